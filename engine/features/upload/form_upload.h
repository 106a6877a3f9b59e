// The multipart/form-data parser of the compose pages: a resumable state
// machine fed the request body in blocks of any size, never holding more
// of it than one line or one delimiter's length.
//
// States: skip (to the next boundary line), part_headers, field_value,
// body_text (the part named Body) and file_data (the part named Attachment
// with a file name). What each part becomes goes to an UploadSink:
//   - an ordinary field: its last non-empty line, with an image button's
//     ".x"/".y" removed from its name;
//   - Body: its bytes, the line ends of the form (CR LF) turned into LF,
//     lines of any length kept whole;
//   - the file: its bytes, exactly, up to the CR LF before the delimiter
//     (found across block borders), with the file name reduced to the last
//     component of a path and the part's content type.
// A part's name, file name and type are its own: a part without a
// Content-Type or file name does not inherit the previous part's.
// Header and field lines are bounded (longer ones are cut, their rest
// dropped, never read as lines of their own); the boundary may be at most
// max_boundary bytes, or the body is not parsed at all.
//
// Not done here: files and request fields (the sink does that), the size
// limit of a request (the caller checks CONTENT_LENGTH before feeding).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::upload {

constexpr std::size_t max_boundary = 1024;
// Longest header or boundary line kept (bytes); longer ones are cut.
constexpr std::size_t max_header_line = 4095;
// Longest field value kept.
constexpr std::size_t max_field_value = 64 * 1024;
constexpr std::size_t max_field_name = 63;
constexpr std::size_t max_file_name = 255;
constexpr std::size_t max_content_type = 63;

class UploadSink {
public:
    virtual ~UploadSink() = default;
    virtual void field(std::string_view name, std::string_view value) = 0;
    virtual void body_begin() = 0;
    virtual void body_data(std::string_view bytes) = 0;
    // complete: the part ended at its delimiter (not at the end of input).
    virtual void body_end(bool complete) = 0;
    virtual void file_begin(std::string_view file_name, std::string_view content_type) = 0;
    virtual void file_data(std::string_view bytes) = 0;
    virtual void file_end(bool complete) = 0;
};

// The boundary of a multipart/form-data content type: the text after the
// first "boundary=" (any case) up to a ";" or the end, without surrounding
// blanks and quotes. nullopt when the type is not multipart/form-data or
// the boundary is empty or longer than max_boundary.
std::optional<std::string> form_boundary(std::string_view content_type);

class FormUploadParser {
public:
    FormUploadParser(const std::string& boundary, UploadSink& sink);

    void feed(std::string_view bytes);
    // The input has ended: a part still open ends incomplete.
    void finish();
    // The closing delimiter was seen; later input is ignored.
    bool done() const { return m_state == State::done; }

private:
    enum class State { skip, part_headers, field_value, body_text, file_data, done };

    void feed_lines(std::string_view& data);
    void feed_body(std::string_view& data);
    void feed_file(std::string_view& data);
    void line(std::string_view text);
    void boundary_line(std::string_view text);
    void header_line(std::string_view text);
    void end_headers();
    void end_body_line(std::string_view text, bool line_end);

    std::string m_boundary_line;  // "--" + boundary
    std::string m_delimiter;      // CR LF + boundary line
    UploadSink& m_sink;
    State m_state = State::skip;

    // Line mode: the line so far (bounded) and whether bytes were dropped.
    std::string m_line;
    std::size_t m_line_limit = max_header_line;
    // Body text: whether a line has been written (LF goes between lines),
    // whether the current line still has to be checked for the boundary,
    // and a CR held back until the next byte shows whether LF follows.
    bool m_body_started = false;
    bool m_body_line_start = true;
    bool m_cr_held = false;
    // File data: the tail of the input that may begin a delimiter.
    std::string m_carry;

    std::string m_name;
    std::string m_file_name;
    std::string m_content_type;
    std::size_t m_parts = 0;
};

}  // namespace corvane::upload

// The compose directory of a session: the files a message being written
// lives in between two pages.
//
//   .headers.txt   the header fields of the compose page, "Name: value" CR LF
//   .body.txt      the body text as typed
//   .body.tmp      transient: the text being quoted
//   .message.txt   the message last built from the files
//   N, .N          an attachment and its content type (one line)
//
// Names beginning with "." are compose files; every other regular file is
// an attachment. Every name that reaches a file operation here is checked
// to be a plain name of this directory, so no form field can make a path
// that leads outside it. Header values are written without CR and LF: a
// value can never become a line of its own in the header file.
//
// Not done here: what the fields mean (compose_work.h), building messages
// (message_builder.h), uploads (engine/features/upload).
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/platform/result.h"

namespace corvane::compose {

// The fields of the header file, in the order they are written.
inline constexpr std::array<std::string_view, 15> header_fields = {"From",         "To",
                                                                   "CC",           "BCC",
                                                                   "Reply-To",     "SourceMessage",
                                                                   "ReplyMessage", "ForwardMessage",
                                                                   "Subject",      "ConfirmDelivery",
                                                                   "ConfirmRead",  "ComposeUrgent",
                                                                   "In-Reply-To",  "Mailbox",
                                                                   "SpellLanguage"};

// A header field value is kept to this many bytes (a To of many hundred
// recipients still fits).
constexpr std::size_t max_header_value = 16383;
// Attachment names (bytes).
constexpr std::size_t max_attachment_name = 255;
// A content type line.
constexpr std::size_t max_content_type = 127;

using HeaderValues = std::vector<std::pair<std::string, std::string>>;

class ComposeDirectory {
public:
    explicit ComposeDirectory(std::string path) : m_path(std::move(path)) {}

    const std::string& path() const { return m_path; }
    std::string file(std::string_view name) const;
    std::string headers_path() const { return file(".headers.txt"); }
    std::string body_path() const { return file(".body.txt"); }
    std::string quote_path() const { return file(".body.tmp"); }
    std::string message_path() const { return file(".message.txt"); }

    // Creates the directory when missing.
    Result<void> ensure() const;
    bool has_body() const;

    // Writes the header file from values given by name (missing: empty).
    template <typename Lookup>
    Result<void> save_headers(const Lookup& value_of) const
    {
        std::string data;
        for (std::string_view name : header_fields)
            append_header_line(data, name, value_of(name));
        return write_headers(data);
    }
    // The lines of the header file, each split at its first ":" (the value
    // starts two characters after it). Missing file: none.
    HeaderValues read_headers() const;

    // Writes the body file (the text unchanged).
    Result<void> write_body(std::string_view text) const;

    // Attachment names, in name order.
    std::vector<std::string> attachments() const;
    // True for a name that may be an attachment of this directory: a plain
    // name that does not begin with ".".
    static bool is_attachment_name(std::string_view name);
    // A name as it may be stored: the last path component of what a browser
    // or a mail sent, without control bytes and leading dots, at most
    // max_attachment_name bytes; "" when nothing is left.
    static std::string attachment_name(std::string_view raw);
    // The content type kept beside an attachment ("" when none).
    std::string content_type(std::string_view attachment) const;
    Result<void> set_content_type(std::string_view attachment, std::string_view type) const;
    // Deletes an attachment and its companion; false when name is not an
    // attachment of this directory.
    bool remove_attachment(std::string_view name) const;

    // Deletes every file of the directory (the directory stays).
    Result<void> clear() const;

private:
    static void append_header_line(std::string& data, std::string_view name, std::string_view value);
    Result<void> write_headers(const std::string& data) const;

    std::string m_path;
};

}  // namespace corvane::compose

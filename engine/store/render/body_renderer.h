// The body of a stored message as a page shows it, and the decoded bytes of
// one part for a download.
//
// A part is decoded line by line straight from the message file (bodies are
// never read whole, except an HTML part, which has to be parsed whole and is
// bounded), converted from its declared charset to UTF-8, and then:
//   - text (text/*, message/*): escaped, with links (text_links.h), inside
//     <div class="cv-text">;
//   - HTML: the part of the document between the body start tag and
//     "</body" (all of it when there is no body tag), sanitised
//     (html_sanitizer.h) with cid: references pointing at the parts of this
//     message, inside <div class="cv-html">; should the sanitiser fail, the
//     source is shown as escaped text, never as markup.
// The charset of a part comes from the Content-Type of its own header (read
// back from the file, since part records keep no parameters), for HTML
// without one from a meta charset near its start; an unknown charset passes
// the bytes through.
//
// Which parts are shown inline is is_inline(); the message page renders
// those in part order (the tag provider does that).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/store/message_index/message_entry.h"

namespace corvane::render {

// Where rendered output goes (the response, or a buffer).
class Sink {
public:
    virtual ~Sink() = default;
    virtual void write(std::string_view bytes) = 0;
};

class StringSink final : public Sink {
public:
    void write(std::string_view bytes) override { text.append(bytes); }
    std::string text;
};

struct RenderContext {
    // Links inside the page: the script name and the session id. Without a
    // session (session_id empty) addresses are not linked and cid:
    // references are left out.
    std::string script_name;
    std::string session_id;
    // The reader asked to see this message's images from other servers.
    bool allow_remote_images = false;
    // Called just before an HTML part whose pictures from other servers were
    // left out is written, so the page can say so above it.
    std::function<void()> before_blocked_html;
};

struct RenderReport {
    bool opened = false;                 // the message file could be read
    bool remote_images_blocked = false;  // an HTML part had images that were left out
    bool truncated = false;              // an HTML part was too long to show whole
};

// Longest HTML part shown (decoded); the rest is left out.
constexpr std::size_t kMaxHtmlPart = 2u << 20;
// Longest line read from a message file at once; a longer one is split.
constexpr std::size_t kMaxBodyLine = 1u << 20;

// The body of a message without parts (its own header says how it is
// encoded).
RenderReport render_message(const std::string& message_path, const RenderContext& context, Sink& out);
// One part of a message.
RenderReport render_part(const std::string& message_path, const store::PartRecord& part, const RenderContext& context,
                         Sink& out);

// The decoded content of a part, for a download: base64 and uuencode as
// bytes, quoted-printable as text, every other line with CR LF. False when
// the file cannot be read.
bool write_decoded_part(const std::string& message_path, const store::PartRecord& part, Sink& out);

// Whether a part of a multipart message is shown inline:
//   - a part beyond max_inline_kb (when above 0) is not, unless it belongs
//     to the first part of the message (the body and its alternatives);
//   - an alternative (sub-part) is when its type is the preferred one; a
//     text/plain alternative also when no alternative of the same part
//     number has the preferred type;
//   - an outer part is when it is text, message/delivery-status or
//     message/report.
bool is_inline(const store::PartList& parts, const store::PartRecord& part, std::string_view preferred,
               std::int64_t max_inline_kb);

}  // namespace corvane::render

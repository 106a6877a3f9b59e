#include "engine/store/render/body_renderer.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "common/text/strings.h"
#include "engine/store/html_sanitizer/html_sanitizer.h"
#include "engine/store/mime/charset.h"
#include "engine/store/mime/header_list.h"
#include "engine/store/mime/line_decoders.h"
#include "engine/store/mime/line_reader.h"
#include "engine/store/mime/parameters.h"
#include "engine/store/render/text_links.h"

namespace corvane::render {

namespace {

// Where a body lies in the file and how it is encoded.
struct BodySource {
    std::uint64_t offset = 0;
    std::int64_t lines = 0;
    std::string content_type;  // with parameters when known
    std::string encoding;
    std::string charset;
};

// Text is written in pieces of about this size.
constexpr std::size_t kFlushAt = 16 * 1024;
// How far before a part's body its header is looked for.
constexpr std::uint64_t kPartHeaderWindow = 16 * 1024;
// A line without a line feed is converted once it is this long.
constexpr std::size_t kMaxPendingLine = 64 * 1024;

LinkContext links_for(const RenderContext& context)
{
    LinkContext links;
    if (!context.session_id.empty())
        links.compose_prefix = context.script_name + "?Session=" + context.session_id + "&View=Compose&To=";
    return links;
}

std::string cid_prefix_for(const RenderContext& context)
{
    if (context.session_id.empty())
        return {};
    return context.script_name + "?Session=" + context.session_id + "&View=Attachment&CID=";
}

// Reads the header of the part whose body starts at offset: the lines
// between the boundary line (or the start of the file) and the empty line
// just before offset.
mime::HeaderList part_header(const std::string& path, std::uint64_t offset)
{
    mime::HeaderList header;
    if (offset == 0)
        return header;
    std::uint64_t start = offset > kPartHeaderWindow ? offset - kPartHeaderWindow : 0;
    auto reader = mime::LineReader::open(path);
    if (!reader || !reader->seek(start))
        return header;
    std::vector<std::string> lines;
    std::string line;
    while (reader->offset() < offset && reader->next(line, mime::kMaxHeaderFileLine))
        lines.push_back(line);
    // The last line read is the empty one that ends the header.
    if (!lines.empty() && lines.back().empty())
        lines.pop_back();
    std::size_t first = lines.size();
    while (first > 0) {
        const std::string& l = lines[first - 1];
        if (l.empty() || l.starts_with("--"))
            break;
        --first;
    }
    // A window that did not reach the boundary may start inside a line.
    if (first == 0 && start > 0 && !lines.empty())
        first = 1;
    for (std::size_t i = first; i < lines.size(); ++i)
        header.add_line(lines[i]);
    return header;
}

// "charset=" in the first kilobytes of an HTML document, for parts that
// declare none in their header.
std::string sniff_html_charset(std::string_view html)
{
    std::string_view head = html.substr(0, 2048);
    std::size_t at = text::ifind(head, "charset=");
    if (at == std::string_view::npos)
        return {};
    std::string_view rest = head.substr(at + 8);
    while (!rest.empty() && (rest.front() == '"' || rest.front() == '\'' || rest.front() == ' '))
        rest.remove_prefix(1);
    std::size_t end = 0;
    while (end < rest.size() && end < 40 &&
           (std::isalnum(static_cast<unsigned char>(rest[end])) || rest[end] == '-' || rest[end] == '_' ||
            rest[end] == ':' || rest[end] == '.'))
        ++end;
    return std::string(rest.substr(0, end));
}

// The part of an HTML document a message shows: after the body start tag,
// before "</body"; the whole document when it has no body tag.
std::string_view shown_html(std::string_view html)
{
    std::size_t body = text::ifind(html, "<body");
    if (body == std::string_view::npos)
        return html;
    std::size_t gt = html.find('>', body + 5);
    if (gt == std::string_view::npos)
        return {};
    std::string_view inside = html.substr(gt + 1);
    std::size_t end = text::ifind(inside, "</body");
    return end == std::string_view::npos ? inside : inside.substr(0, end);
}

class Renderer {
public:
    Renderer(const RenderContext& context, Sink& out) : m_context(context), m_out(out) {}

    RenderReport render(const std::string& path, const BodySource& source)
    {
        RenderReport report;
        auto reader = mime::LineReader::open(path);
        if (!reader || !reader->seek(source.offset))
            return report;
        report.opened = true;
        mime::Classification kind = mime::classify(source.encoding, source.content_type);
        mime::LineDecoder decoder(kind.encoding);
        std::string charset = source.charset;
        if (kind.iso2022jp && charset.empty())
            charset = "ISO-2022-JP";

        // Pictures and other binary parts have no text to show; they are
        // offered as attachments (and images shown from there).
        if (kind.kind == mime::ContentKind::other)
            return report;
        if (kind.kind == mime::ContentKind::html) {
            std::string html;
            bool truncated = false;
            read_decoded(*reader, decoder, source.lines, [&](std::string_view bytes) {
                if (html.size() + bytes.size() > kMaxHtmlPart) {
                    html.append(bytes.substr(0, kMaxHtmlPart - html.size()));
                    truncated = true;
                    return false;
                }
                html.append(bytes);
                return true;
            });
            if (charset.empty())
                charset = sniff_html_charset(html);
            std::string utf8 = mime::to_utf8(charset, html);
            html.clear();
            write_html(utf8, report);
            report.truncated = report.truncated || truncated;
            return report;
        }

        mime::CharsetConverter converter(charset);
        LinkContext links = links_for(m_context);
        std::string pending;  // UTF-8 text not yet ended by a line feed
        std::string html = "<div class=\"cv-text\">";
        auto convert_lines = [&](bool final) {
            std::size_t done = 0;
            while (true) {
                std::size_t lf = pending.find('\n', done);
                if (lf == std::string::npos)
                    break;
                text_to_html(std::string_view(pending).substr(done, lf + 1 - done), links, html);
                done = lf + 1;
            }
            if (final || pending.size() - done > kMaxPendingLine) {
                text_to_html(std::string_view(pending).substr(done), links, html);
                done = pending.size();
            }
            pending.erase(0, done);
            if (html.size() >= kFlushAt || final) {
                m_out.write(html);
                html.clear();
            }
        };
        read_decoded(*reader, decoder, source.lines, [&](std::string_view bytes) {
            converter.convert(bytes, pending);
            convert_lines(false);
            return true;
        });
        converter.finish(pending);
        convert_lines(true);
        m_out.write("</div>");
        return report;
    }

private:
    // Feeds the decoded bytes of up to lines lines to take until it says stop.
    template <typename Take>
    static void read_decoded(mime::LineReader& reader, mime::LineDecoder& decoder, std::int64_t lines, Take take)
    {
        std::string line;
        std::string decoded;
        for (std::int64_t n = 0; n < lines; ++n) {
            if (!reader.next(line, kMaxBodyLine, mime::LongLines::split))
                break;
            decoded.clear();
            decoder.decode(line, decoded);
            if (!decoded.empty() && !take(std::string_view(decoded)))
                break;
        }
    }

    void write_html(std::string_view utf8, RenderReport& report)
    {
        sanitize::Policy policy;
        policy.cid_url_prefix = cid_prefix_for(m_context);
        policy.allow_remote_images = m_context.allow_remote_images;
        std::string clean = "<div class=\"cv-html\">";
        sanitize::Report result = sanitize::sanitize_html(shown_html(utf8), policy, clean);
        if (result.failed) {
            clean = "<div class=\"cv-text\">";
            escape_body(utf8, clean);
        }
        clean += "</div>";
        if (result.remote_images_blocked && m_context.before_blocked_html)
            m_context.before_blocked_html();
        m_out.write(clean);
        report.remote_images_blocked = result.remote_images_blocked;
        report.truncated = result.truncated;
    }

    const RenderContext& m_context;
    Sink& m_out;
};

}  // namespace

RenderReport render_message(const std::string& message_path, const RenderContext& context, Sink& out)
{
    auto reader = mime::LineReader::open(message_path);
    if (!reader)
        return {};
    mime::HeaderList header;
    std::string line;
    while (reader->next(line, mime::kMaxHeaderFileLine)) {
        if (line.empty())
            break;
        header.add_line(line);
    }
    BodySource source;
    source.offset = reader->offset();
    source.lines = 10000000;
    source.content_type = header.contains("Content-Type") ? header.value("Content-Type") : "text/plain";
    source.encoding = header.contains("Content-Transfer-Encoding") ? header.value("Content-Transfer-Encoding") : "7bit";
    source.charset = mime::charset_of(source.content_type);
    return Renderer(context, out).render(message_path, source);
}

RenderReport render_part(const std::string& message_path, const store::PartRecord& part, const RenderContext& context,
                         Sink& out)
{
    BodySource source;
    source.offset = static_cast<std::uint64_t>(std::max<std::int64_t>(part.body_offset, 0));
    source.lines = part.line_count;
    source.content_type = part.content_type;
    source.encoding = part.transfer_encoding;
    mime::HeaderList header = part_header(message_path, source.offset);
    source.charset = mime::charset_of(header.value("Content-Type"));
    return Renderer(context, out).render(message_path, source);
}

bool write_decoded_part(const std::string& message_path, const store::PartRecord& part, Sink& out)
{
    auto reader = mime::LineReader::open(message_path);
    if (!reader || !reader->seek(static_cast<std::uint64_t>(std::max<std::int64_t>(part.body_offset, 0))))
        return false;
    mime::LineDecoder decoder(mime::classify_encoding(part.transfer_encoding));
    std::string line;
    std::string decoded;
    for (std::int64_t n = 0; n < part.line_count; ++n) {
        if (!reader->next(line, kMaxBodyLine, mime::LongLines::split))
            break;
        decoder.decode(line, decoded);
        if (decoded.size() >= kFlushAt) {
            out.write(decoded);
            decoded.clear();
        }
    }
    out.write(decoded);
    return true;
}

bool is_inline(const store::PartList& parts, const store::PartRecord& part, std::string_view preferred,
               std::int64_t max_inline_kb)
{
    std::int32_t first_part = part.part_number;
    for (const store::PartRecord& p : parts)
        first_part = std::min(first_part, p.part_number);
    if (max_inline_kb > 0 && part.decoded_size > max_inline_kb * 1024 && part.part_number != first_part)
        return false;
    if (part.sub_part != 0) {
        if (text::iequals(part.content_type, preferred))
            return true;
        if (!text::iequals(part.content_type, "text/plain"))
            return false;
        return std::none_of(parts.begin(), parts.end(), [&](const store::PartRecord& p) {
            return p.part_number == part.part_number && text::iequals(p.content_type, preferred);
        });
    }
    return text::istarts_with(part.content_type, "text") ||
           text::iequals(part.content_type, "message/delivery-status") ||
           text::iequals(part.content_type, "message/report");
}

}  // namespace corvane::render

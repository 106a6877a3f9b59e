#include "engine/features/compose/message_text.h"

#include "common/text/strings.h"
#include "engine/store/message_index/store_files.h"
#include "engine/store/mime/charset.h"
#include "engine/store/mime/header_list.h"
#include "engine/store/mime/line_decoders.h"
#include "engine/store/mime/line_reader.h"
#include "engine/store/mime/parameters.h"

namespace corvane::compose {
namespace {

// Longest body line decoded at once; a longer one is cut (real mail keeps
// lines short, and our own long lines travel quoted-printable).
constexpr std::size_t kMaxLine = 1u << 20;

struct Source {
    std::string transfer_encoding;
    std::string content_type;
    std::uint64_t offset = 0;  // first body line
    std::int64_t lines = -1;   // -1: to the end
};

// The header block that ends just before offset: the lines after the last
// boundary line ("--...") before it.
mime::HeaderList header_before(mime::LineReader& reader, std::uint64_t offset)
{
    std::vector<std::string> block;
    std::string line;
    bool in_header = true;
    while (reader.line_offset() + reader.line_bytes() < offset && reader.next(line, mime::kMaxHeaderFileLine)) {
        if (line.rfind("--", 0) == 0) {
            block.clear();
            in_header = true;
        } else if (line.empty()) {
            in_header = false;
        } else if (in_header) {
            block.push_back(line);
        }
        if (reader.line_offset() + reader.line_bytes() >= offset)
            break;
    }
    mime::HeaderList header;
    for (const std::string& l : block)
        header.add_line(l);
    return header;
}

// Text with its CR LF made LF, also where a CR LF falls across pieces.
class TextWriter {
public:
    explicit TextWriter(store::OutputFile& out) : m_out(out) {}
    void write(std::string_view text)
    {
        std::string joined;
        if (m_cr) {
            joined = "\r";
            joined.append(text);
            text = joined;
            m_cr = false;
        }
        if (!text.empty() && text.back() == '\r') {
            m_cr = true;
            text.remove_suffix(1);
        }
        m_out.write(text::replace_all(text, "\r\n", "\n"));
    }

private:
    store::OutputFile& m_out;
    bool m_cr = false;
};

// Decodes the body lines of source into out_path: bytes, or text in UTF-8.
bool decode(const std::string& message_path, Source source, bool as_text, const std::string& out_path)
{
    auto reader = mime::LineReader::open(message_path);
    if (!reader)
        return false;
    std::string line;
    mime::HeaderList header;
    if (source.lines < 0) {
        // The message's own header, up to its empty line.
        while (reader->next(line, mime::kMaxHeaderFileLine) && !line.empty())
            header.add_line(line);
        source.transfer_encoding = header.value("Content-Transfer-Encoding");
    } else {
        // The reader then stands at the first body line.
        header = header_before(*reader, source.offset);
    }
    mime::LineDecoder decoder(mime::classify_encoding(source.transfer_encoding));
    mime::CharsetConverter converter(mime::charset_of(header.value("Content-Type")));
    auto out = store::OutputFile::create(out_path);
    if (!out)
        return false;
    TextWriter text_out(*out);
    std::string bytes, text;
    for (std::int64_t n = 0; (source.lines < 0 || n < source.lines) && reader->next(line, kMaxLine); ++n) {
        bytes.clear();
        decoder.decode(line, bytes);
        if (as_text) {
            text.clear();
            converter.convert(bytes, text);
            text_out.write(text);
        } else {
            out->write(bytes);
        }
    }
    if (as_text) {
        text.clear();
        converter.finish(text);
        text_out.write(text);
    }
    return out->close().ok();
}

}  // namespace

bool write_message_text(const std::string& message_path, const store::PartRecord* part, const std::string& out_path)
{
    Source source;
    if (part) {
        source.transfer_encoding = part->transfer_encoding;
        source.content_type = part->content_type;
        source.offset = static_cast<std::uint64_t>(part->body_offset);
        source.lines = part->line_count;
    }
    return decode(message_path, source, true, out_path);
}

bool write_part_bytes(const std::string& message_path, const store::PartRecord& part, const std::string& out_path)
{
    Source source;
    source.transfer_encoding = part.transfer_encoding;
    source.content_type = part.content_type;
    source.offset = static_cast<std::uint64_t>(part.body_offset);
    source.lines = part.line_count;
    return decode(message_path, source, false, out_path);
}

}  // namespace corvane::compose

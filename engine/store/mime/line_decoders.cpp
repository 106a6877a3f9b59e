#include "engine/store/mime/line_decoders.h"

#include "common/text/base64.h"
#include "common/text/strings.h"

namespace corvane::mime {

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

int uu_value(char c)
{
    return (static_cast<unsigned char>(c) - 32) & 63;
}

}  // namespace

TransferEncoding classify_encoding(std::string_view transfer_encoding)
{
    std::string_view e = text::trim(transfer_encoding);
    if (text::iequals(e, "base64"))
        return TransferEncoding::base64;
    if (text::iequals(e, "quoted-printable"))
        return TransferEncoding::quoted_printable;
    if (text::iequals(e, "uuencode") || text::iequals(e, "x-uuencode") || text::iequals(e, "x-uue") ||
        text::iequals(e, "uue"))
        return TransferEncoding::uuencode;
    return TransferEncoding::none;
}

ContentKind classify_content(std::string_view content_type)
{
    std::string_view t = text::trim_left(content_type);
    if (text::istarts_with(t, "text/html"))
        return ContentKind::html;
    if (text::istarts_with(t, "text") || text::istarts_with(t, "message"))
        return ContentKind::text;
    return ContentKind::other;
}

bool has_iso2022jp_charset(std::string_view content_type)
{
    std::size_t at = text::ifind(content_type, "charset=");
    if (at == std::string_view::npos)
        return false;
    std::string_view value = content_type.substr(at + 8);
    value = value.substr(0, value.find(';'));
    return text::ifind(value, "ISO-2022-JP") != std::string_view::npos;
}

Classification classify(std::string_view transfer_encoding, std::string_view content_type)
{
    return {classify_encoding(transfer_encoding), classify_content(content_type), has_iso2022jp_charset(content_type)};
}

std::int64_t estimate_decoded_size(std::int64_t encoded_size, std::string_view transfer_encoding)
{
    switch (classify_encoding(transfer_encoding)) {
    case TransferEncoding::base64:
        return encoded_size / 78 * 57 + encoded_size % 78 * 57 / 78;
    case TransferEncoding::quoted_printable:
        return encoded_size / 78 * 73 + encoded_size % 78 * 73 / 78;
    case TransferEncoding::uuencode:
    case TransferEncoding::none:
        break;
    }
    return encoded_size;
}

void LineDecoder::reset()
{
    m_bits = 0;
    m_bit_count = 0;
    m_uu_started = false;
    m_uu_ended = false;
}

void LineDecoder::decode(std::string_view line, std::string& out)
{
    switch (m_encoding) {
    case TransferEncoding::base64:
        decode_base64(line, out);
        return;
    case TransferEncoding::quoted_printable:
        decode_quoted_printable(line, out);
        return;
    case TransferEncoding::uuencode:
        decode_uuencode(line, out);
        return;
    case TransferEncoding::none:
        out.append(line);
        out.append("\r\n");
        return;
    }
}

void LineDecoder::decode_base64(std::string_view line, std::string& out)
{
    for (char ch : line) {
        if (is_blank(ch))
            continue;
        int v = text::base64_value(ch);
        if (v < 0) {
            // Padding ends the data: the bits left over are not a byte, and
            // carrying them into the next line would shift everything after.
            if (ch == '=') {
                m_bits = 0;
                m_bit_count = 0;
            }
            return;
        }
        m_bits = ((m_bits << 6) | static_cast<std::uint32_t>(v)) & 0xFFFFFF;
        m_bit_count += 6;
        if (m_bit_count >= 8) {
            m_bit_count -= 8;
            out.push_back(static_cast<char>((m_bits >> m_bit_count) & 0xFF));
        }
    }
}

void LineDecoder::decode_quoted_printable(std::string_view line, std::string& out)
{
    while (!line.empty() && is_blank(line.back()))
        line.remove_suffix(1);
    std::size_t i = 0;
    while (i < line.size()) {
        std::size_t eq = line.find('=', i);
        if (eq == std::string_view::npos) {
            out.append(line.substr(i));
            break;
        }
        out.append(line.substr(i, eq - i));
        if (eq + 1 == line.size())
            return;  // soft line break
        if (eq + 2 < line.size() && text::hex_value(line[eq + 1]) >= 0 && text::hex_value(line[eq + 2]) >= 0) {
            out.push_back(static_cast<char>(text::hex_value(line[eq + 1]) * 16 + text::hex_value(line[eq + 2])));
            i = eq + 3;
        } else {
            out.push_back('=');
            i = eq + 1;
        }
    }
    out.append("\r\n");
}

void LineDecoder::decode_uuencode(std::string_view line, std::string& out)
{
    if (m_uu_ended)
        return;
    if (!m_uu_started && line.starts_with("begin ")) {
        m_uu_started = true;
        return;
    }
    if (text::trim_right(line) == "end") {
        m_uu_ended = true;
        return;
    }
    if (line.empty())
        return;
    m_uu_started = true;
    int count = uu_value(line[0]);
    // Transports strip trailing blanks, which encode zero bits: characters
    // missing at the end of a line count as blanks.
    auto at = [&](std::size_t i) { return i < line.size() ? uu_value(line[i]) : 0; };
    std::size_t pos = 1;
    while (count > 0) {
        int a = at(pos), b = at(pos + 1), c = at(pos + 2), d = at(pos + 3);
        char bytes[3] = {static_cast<char>((a << 2) | (b >> 4)), static_cast<char>(((b & 15) << 4) | (c >> 2)),
                         static_cast<char>(((c & 3) << 6) | d)};
        int n = count < 3 ? count : 3;
        out.append(bytes, static_cast<std::size_t>(n));
        count -= n;
        pos += 4;
    }
}

}  // namespace corvane::mime

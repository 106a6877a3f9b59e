#include "engine/features/compose/message_builder.h"

#include <algorithm>
#include <vector>

#include "common/mime_types/mime_type_table.h"
#include "common/platform/files.h"
#include "common/platform/input_file.h"
#include "common/platform/random.h"
#include "common/platform/time_format.h"
#include "common/text/base64.h"
#include "common/text/strings.h"
#include "engine/features/compose/compose_directory.h"
#include "engine/features/compose/iso2022jp.h"
#include "engine/store/addresses/address_helpers.h"
#include "engine/store/message_index/store_files.h"

namespace corvane::compose {
namespace {

// Lines longer than this reach the writers in pieces (cut at UTF-8
// boundaries), so a body of one huge line never sits in memory whole.
constexpr std::size_t kPiece = 64 * 1024;
// 57 input bytes make one Base64 line of 76 characters.
constexpr std::size_t kBase64LineBytes = 57;
constexpr std::size_t kBase64Block = kBase64LineBytes * 512;

// Calls piece(text, line_start, line_end) for the lines of a file: lines end
// at LF, a CR before the LF is dropped, a last line without LF counts. False
// when the file cannot be opened.
template <typename Piece>
bool for_each_line(const std::string& path, Piece&& piece)
{
    auto file = platform::InputFile::open(path);
    if (!file)
        return false;
    std::string pending;
    bool line_start = true;
    std::string block(kPiece, '\0');
    for (;;) {
        const std::size_t n = file->read(block.data(), block.size());
        std::string_view data(block.data(), n);
        while (!data.empty()) {
            const std::size_t nl = data.find('\n');
            if (nl == std::string_view::npos) {
                pending.append(data);
                data = {};
                while (pending.size() > kPiece) {
                    std::string_view head = text::cut(pending, kPiece);
                    if (head.empty())
                        head = std::string_view(pending).substr(0, kPiece);
                    piece(head, line_start, false);
                    line_start = false;
                    pending.erase(0, head.size());
                }
                break;
            }
            pending.append(data.substr(0, nl));
            data.remove_prefix(nl + 1);
            if (!pending.empty() && pending.back() == '\r')
                pending.pop_back();
            piece(std::string_view(pending), line_start, true);
            pending.clear();
            line_start = true;
        }
        if (n < block.size())
            break;
    }
    if (!pending.empty() || !line_start)
        piece(std::string_view(pending), line_start, true);
    return true;
}

enum class TextEncoding { none, eight_bit, quoted_printable };

struct TextScan {
    bool eight_bit = false;
    std::size_t longest = 0;
    bool holds_boundary = false;
};

// Quoted-printable, fed a line in pieces (RFC 2045 6.7).
class QuotedPrintable {
public:
    void piece(std::string_view text, bool line_end, std::string& out)
    {
        for (unsigned char c : text) {
            if (c == ' ' || c == '\t') {
                m_blanks += static_cast<char>(c);
                continue;
            }
            flush_blanks(false, out);
            if (c >= 33 && c <= 126 && c != '=')
                put(std::string_view(reinterpret_cast<const char*>(&c), 1), out);
            else
                put(escape(c), out);
        }
        if (line_end) {
            flush_blanks(true, out);
            out += '\n';
            m_column = 0;
        }
    }

private:
    static std::string escape(unsigned char c)
    {
        static constexpr char hex[] = "0123456789ABCDEF";
        return {'=', hex[c >> 4], hex[c & 0xF]};
    }
    void put(std::string_view token, std::string& out)
    {
        if (m_column + token.size() > 75) {
            out += "=\n";
            m_column = 0;
        }
        out.append(token);
        m_column += token.size();
    }
    // Blanks at the end of a line would be lost on the way: they are encoded.
    void flush_blanks(bool at_line_end, std::string& out)
    {
        for (std::size_t i = 0; i < m_blanks.size(); ++i) {
            const auto c = static_cast<unsigned char>(m_blanks[i]);
            if (at_line_end && i + 1 == m_blanks.size())
                put(escape(c), out);
            else
                put(std::string_view(&m_blanks[i], 1), out);
        }
        m_blanks.clear();
    }

    std::size_t m_column = 0;
    std::string m_blanks;
};

class TextWriter {
public:
    TextWriter(store::OutputFile& file, TextEncoding encoding, bool iso2022jp)
        : m_file(file), m_encoding(encoding), m_iso2022jp(iso2022jp)
    {
    }
    void piece(std::string_view text, bool line_end)
    {
        std::string converted;
        if (m_iso2022jp) {
            converted = utf8_to_iso2022jp(text);
            text = converted;
        }
        m_out.clear();
        if (m_encoding == TextEncoding::quoted_printable) {
            m_qp.piece(text, line_end, m_out);
        } else {
            m_out.append(text);
            if (line_end)
                m_out += '\n';
        }
        m_file.write(m_out);
    }

private:
    store::OutputFile& m_file;
    TextEncoding m_encoding;
    bool m_iso2022jp;
    QuotedPrintable m_qp;
    std::string m_out;
};

void scan_text(const std::string& path, bool iso2022jp, const std::string& delimiter, TextScan& scan)
{
    std::size_t length = 0;
    (void)for_each_line(path, [&](std::string_view piece, bool line_start, bool line_end) {
        if (line_start) {
            length = 0;
            if (text::istarts_with(piece, delimiter) && piece.substr(0, delimiter.size()) == delimiter)
                scan.holds_boundary = true;
        }
        if (is_8bit(piece))
            scan.eight_bit = true;
        length += iso2022jp ? utf8_to_iso2022jp(piece).size() : piece.size();
        if (line_end)
            scan.longest = std::max(scan.longest, length);
    });
}

std::string domain_for(const MessageFields& fields, const BuildOptions& options)
{
    const std::string address = addresses::bare_address(fields.from);
    const std::size_t at = address.rfind('@');
    if (at != std::string::npos) {
        std::string domain = address.substr(at + 1);
        const bool plausible =
            !domain.empty() && domain.size() <= 253 && std::all_of(domain.begin(), domain.end(), [](char c) {
                return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '-';
            });
        if (plausible)
            return domain;
    }
    return options.domain.empty() ? std::string("localhost") : options.domain;
}

std::string make_message_id(const MessageFields& fields, const BuildOptions& options)
{
    std::uint8_t bytes[12];
    platform::random_bytes(bytes, sizeof bytes);
    std::string id = text::format("<%llx.", static_cast<unsigned long long>(options.now));
    for (std::uint8_t b : bytes)
        text::append_format(id, "%02x", b);
    return id + "@" + domain_for(fields, options) + ">";
}

// A file name parameter that survives any name: quoted when it is plain
// ASCII, else in the RFC 2231 form.
std::string file_name_parameter(std::string_view name)
{
    const std::string clean = clean_header_value(name);
    const bool plain = !is_8bit(clean) && clean.find_first_of("\"\\") == std::string::npos;
    if (plain)
        return "filename=\"" + clean + "\"";
    std::string out = "filename*=UTF-8''";
    for (unsigned char c : clean) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
        if (keep)
            out += static_cast<char>(c);
        else
            text::append_format(out, "%%%02X", c);
    }
    return out;
}

// A content type as it may go into a header: "type/subtype" of token
// characters, else application/octet-stream.
std::string safe_content_type(std::string_view type)
{
    std::string_view t = text::trim(type.substr(0, type.find(';')));
    const std::size_t slash = t.find('/');
    const bool ok = slash != std::string_view::npos && slash > 0 && slash + 1 < t.size() && t.size() <= 127 &&
                    std::all_of(t.begin(), t.end(), [](char c) {
                        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                               std::string_view("/!#$&^_.+-").find(c) != std::string_view::npos;
                    });
    return ok ? std::string(t) : std::string(mime_types::default_type);
}

bool write_attachment(store::OutputFile& out, const ComposeDirectory& dir, const std::string& name,
                      const BuildOptions& options)
{
    std::string type = dir.content_type(name);
    if (type.empty() && options.types) {
        const std::size_t dot = name.rfind('.');
        type = dot == std::string::npos ? std::string(mime_types::default_type)
                                        : std::string(options.types->type_of(std::string_view(name).substr(dot + 1)));
    }
    out.write("Content-Type: " + safe_content_type(type) + "\n");
    out.write("Content-Transfer-Encoding: base64\n");
    std::string disposition = "Content-Disposition: attachment; " + file_name_parameter(name) + "\n\n";
    out.write(disposition);

    auto file = platform::InputFile::open(dir.file(name));
    if (!file)
        return false;
    std::string block(kBase64Block, '\0');
    std::string lines;
    for (;;) {
        const std::size_t n = file->read(block.data(), block.size());
        lines.clear();
        for (std::size_t i = 0; i < n; i += kBase64LineBytes) {
            lines += text::base64_encode(std::string_view(block.data() + i, std::min(kBase64LineBytes, n - i)));
            lines += '\n';
        }
        out.write(lines);
        if (n < block.size())
            break;
    }
    return !file->failed();
}

}  // namespace

std::string format_mail_date(std::time_t t)
{
    std::tm tm = platform::local_time(t);
    std::string date = platform::format_time(tm, "%a, %d %b %Y %H:%M:%S ");
    const long offset = tm.tm_gmtoff / 60;
    const long magnitude = offset < 0 ? -offset : offset;
    text::append_format(date, "%c%02ld%02ld", offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return date;
}

std::string make_boundary(std::time_t t)
{
    const std::tm tm = platform::local_time(t);
    return text::format("%02d%02d-%02d%02d-%02d-PART-BREAK", tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                        tm.tm_sec);
}

Result<std::string> build_message(const ComposeDirectory& dir, const MessageFields& fields, const BuildOptions& options)
{
    const bool outgoing = options.mode == BuildMode::outgoing;
    const std::vector<std::string> attachments = dir.attachments();
    const bool multipart = !attachments.empty();
    const bool iso2022jp = options.charset.iso2022jp;
    const bool footer = outgoing && !options.footer_path.empty() && platform::is_regular_file(options.footer_path);

    std::string boundary = make_boundary(options.now);
    TextScan scan;
    scan_text(dir.body_path(), iso2022jp, "--" + boundary, scan);
    if (footer)
        scan_text(options.footer_path, iso2022jp, "--" + boundary, scan);
    if (scan.holds_boundary) {
        std::uint8_t salt[6];
        platform::random_bytes(salt, sizeof salt);
        for (std::uint8_t b : salt)
            text::append_format(boundary, "%02x", b);
    }
    const std::string charset = iso2022jp ? std::string("ISO-2022-JP") : options.charset.name;
    TextEncoding encoding = TextEncoding::none;
    if (scan.longest > max_smtp_line)
        encoding = TextEncoding::quoted_printable;
    else if (scan.eight_bit && !iso2022jp)
        encoding = TextEncoding::eight_bit;
    const bool labelled = scan.eight_bit || encoding != TextEncoding::none;

    std::string head;
    head += "Date: " + format_mail_date(options.now) + "\n";
    write_header(head, "From", fields.from, HeaderKind::address, options.charset);
    write_header(head, "To", fields.to, HeaderKind::address, options.charset);
    if (!text::trim(fields.reply_to).empty())
        write_header(head, "Reply-To", fields.reply_to, HeaderKind::address, options.charset);
    if (!text::trim(fields.cc).empty())
        write_header(head, "CC", fields.cc, HeaderKind::address, options.charset);
    write_header(head, "Subject", fields.subject, HeaderKind::text, options.charset);
    if (outgoing)
        head += "Message-ID: " + make_message_id(fields, options) + "\n";

    const std::string charset_parameter = "charset=\"" + charset + "\"";
    std::string text_headers;  // of the text, in the message head or its part
    if (labelled) {
        text_headers = "Content-Type: text/plain; " + charset_parameter + "\n";
        if (encoding == TextEncoding::quoted_printable)
            text_headers += "Content-Transfer-Encoding: quoted-printable\n";
        else if (encoding == TextEncoding::eight_bit)
            text_headers += "Content-Transfer-Encoding: 8bit\n";
    }
    if (multipart) {
        head += "MIME-Version: 1.0\nContent-Type: multipart/mixed; ";
        if (scan.eight_bit)
            head += charset_parameter + "; ";
        head += "boundary=\"" + boundary + "\"\n";
    } else if (labelled) {
        head += "MIME-Version: 1.0\n" + text_headers;
    }
    head += "X-Mailer: " + clean_header_value(options.mailer) + "\n";
    if (!fields.in_reply_to.empty())
        write_header(head, "In-Reply-To", fields.in_reply_to, HeaderKind::text, options.charset);
    const std::string own_address = clean_header_value(addresses::bare_address(fields.from));
    if (fields.confirm_delivery)
        head += "Return-Receipt-To: " + own_address + "\n";
    if (fields.confirm_read) {
        head += "X-Confirm-Reading-To: " + own_address + "\n";
        head += "Disposition-Notification-To: " + own_address + "\n";
    }
    if (fields.urgent)
        head += "X-Priority: 1 (Highest)\n";
    if (!outgoing) {
        if (!fields.bcc.empty())
            write_header(head, "BCC", fields.bcc, HeaderKind::address, options.charset);
        const std::pair<const char*, const std::string*> private_fields[] = {
            {"ReplyMessage", &fields.reply_message},
            {"ForwardMessage", &fields.forward_message},
            {"SpellLanguage", &fields.spell_language},
            {"Mailbox", &fields.mailbox},
        };
        for (const auto& [name, value] : private_fields) {
            if (!value->empty())
                write_header(head, name, *value, HeaderKind::text, options.charset);
        }
        if (fields.advanced)
            head += "Advanced: Yes\n";
    }
    head += "\n";
    if (multipart) {
        head += "--" + boundary + "\n";
        head += labelled ? text_headers : std::string("Content-Type: text/plain\n");
        head += "\n";
    }

    auto out = store::OutputFile::create(dir.message_path());
    if (!out)
        return out.error();
    out->write(head);
    TextWriter writer(*out, encoding, iso2022jp);
    auto body_piece = [&writer](std::string_view piece, bool, bool line_end) { writer.piece(piece, line_end); };
    (void)for_each_line(dir.body_path(), body_piece);
    if (footer)
        (void)for_each_line(options.footer_path, body_piece);
    if (multipart) {
        for (const std::string& name : attachments) {
            out->write("--" + boundary + "\n");
            if (!write_attachment(*out, dir, name, options)) {
                out->abandon();
                return Error{EIO, "cannot read attachment " + name};
            }
        }
        out->write("--" + boundary + "--\n");
    }
    if (auto closed = out->close(); !closed)
        return closed.error();
    return dir.message_path();
}

}  // namespace corvane::compose

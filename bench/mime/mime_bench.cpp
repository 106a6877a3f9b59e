// Throughput of the MIME decoders, in bytes of input per second: the line
// decoders over typical body lines, RFC 2047 decoding of header values,
// charset conversion of body text, header lines into a header list, dates.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "common/text/base64.h"
#include "engine/store/mime/charset.h"
#include "engine/store/mime/date_parser.h"
#include "engine/store/mime/encoded_words.h"
#include "engine/store/mime/header_list.h"
#include "engine/store/mime/line_decoders.h"

using namespace corvane::mime;

namespace {

constexpr std::size_t kBodyBytes = 4u << 20;

std::string sample_text(std::size_t n)
{
    static const char words[] = "The quick brown fox jumps over the lazy dog, caf\xE9 na\xEFve r\xE9sum\xE9. ";
    std::string s;
    while (s.size() < n)
        s += words;
    s.resize(n);
    return s;
}

std::vector<std::string> wrap(const std::string& s, std::size_t width)
{
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < s.size(); i += width)
        lines.push_back(s.substr(i, width));
    return lines;
}

std::vector<std::string> quoted_printable_lines(const std::string& s)
{
    std::vector<std::string> lines;
    std::string line;
    static const char hex[] = "0123456789ABCDEF";
    for (unsigned char c : s) {
        if (c >= 0x80 || c == '=') {
            line += '=';
            line += hex[c >> 4];
            line += hex[c & 15];
        } else {
            line += static_cast<char>(c);
        }
        if (line.size() >= 72) {
            lines.push_back(line + "=");
            line.clear();
        }
    }
    lines.push_back(line);
    return lines;
}

void run_lines(benchmark::State& state, TransferEncoding encoding, const std::vector<std::string>& lines)
{
    std::size_t bytes = 0;
    for (const auto& l : lines)
        bytes += l.size() + 2;
    std::string out;
    out.reserve(kBodyBytes * 2);
    for (auto _ : state) {
        LineDecoder decoder(encoding);
        out.clear();
        for (const auto& l : lines)
            decoder.decode(l, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_Base64Lines(benchmark::State& state)
{
    static const auto lines = wrap(corvane::text::base64_encode(sample_text(kBodyBytes)), 76);
    run_lines(state, TransferEncoding::base64, lines);
}

void BM_QuotedPrintableLines(benchmark::State& state)
{
    static const auto lines = quoted_printable_lines(sample_text(kBodyBytes));
    run_lines(state, TransferEncoding::quoted_printable, lines);
}

void BM_UuencodeLines(benchmark::State& state)
{
    static const auto lines = [] {
        std::vector<std::string> v;
        std::string data = sample_text(kBodyBytes);
        for (std::size_t i = 0; i < data.size(); i += 45) {
            std::string chunk = data.substr(i, 45);
            std::string line(1, static_cast<char>(32 + chunk.size()));
            chunk.resize((chunk.size() + 2) / 3 * 3, '\0');
            for (std::size_t j = 0; j < chunk.size(); j += 3) {
                auto a = static_cast<unsigned char>(chunk[j]), b = static_cast<unsigned char>(chunk[j + 1]),
                     c = static_cast<unsigned char>(chunk[j + 2]);
                for (int sextet : {a >> 2, ((a & 3) << 4) | (b >> 4), ((b & 15) << 2) | (c >> 6), c & 63})
                    line += static_cast<char>(sextet ? sextet + 32 : '`');
            }
            v.push_back(line);
        }
        return v;
    }();
    run_lines(state, TransferEncoding::uuencode, lines);
}

void BM_PlainLines(benchmark::State& state)
{
    static const auto lines = wrap(sample_text(kBodyBytes), 72);
    run_lines(state, TransferEncoding::none, lines);
}

void BM_EncodedWords(benchmark::State& state)
{
    const std::vector<std::string> values = {
        "=?iso-8859-1?Q?Andr=E9_X?= <andre@example.org>",
        "=?utf-8?b?5pel5pys6Kqe44Gu?= =?utf-8?b?44OG44Kt44K544OI44Gn44GZ?=",
        "=?ISO-2022-JP?B?GyRCRnxLXDhsJE4lRiUtJTklSCRHJDkbKEI=?=",
        "Re: a plain subject line without any encoded word in it",
    };
    std::size_t bytes = 0;
    for (const auto& v : values)
        bytes += v.size();
    for (auto _ : state) {
        for (const auto& v : values)
            benchmark::DoNotOptimize(decode_encoded_words(v));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_HeaderList(benchmark::State& state)
{
    const std::vector<std::string> lines = {
        "Received: from mx.example.org (mx.example.org [192.0.2.1])",
        "\tby mail.example.net with ESMTPS id 4F1A2B3C4D",
        "\tfor <user@example.net>; Tue, 15 Jun 1999 10:20:30 -0500",
        "From: =?iso-8859-1?Q?Andr=E9_X?= <andre@example.org>",
        "To: user@example.net",
        "Subject: =?utf-8?b?5pel5pys6Kqe44Gu?=",
        "Date: Tue, 15 Jun 1999 10:20:30 -0500",
        "Message-ID: <1234.5678@example.org>",
        "MIME-Version: 1.0",
        "Content-Type: multipart/mixed; boundary=\"----=_Part_1\"",
    };
    std::size_t bytes = 0;
    for (const auto& l : lines)
        bytes += l.size() + 2;
    for (auto _ : state) {
        HeaderList h;
        for (const auto& l : lines)
            h.add_line(l);
        benchmark::DoNotOptimize(h.value("Subject"));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void run_charset(benchmark::State& state, const char* charset, const std::string& text)
{
    std::string out;
    out.reserve(text.size() * 3);
    for (auto _ : state) {
        CharsetConverter c(charset);
        out.clear();
        for (std::size_t i = 0; i < text.size(); i += 4096)
            c.convert(std::string_view(text).substr(i, 4096), out);
        c.finish(out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_CharsetLatin1(benchmark::State& state)
{
    static const std::string text = sample_text(kBodyBytes);
    run_charset(state, "iso-8859-1", text);
}

void BM_CharsetIso2022Jp(benchmark::State& state)
{
    static const std::string text = [] {
        std::string line = "\x1b$BF|K\\8l$N%F%-%9%H$G$9\x1b(B plain ascii text\r\n";
        std::string s;
        while (s.size() < kBodyBytes)
            s += line;
        return s;
    }();
    run_charset(state, "ISO-2022-JP", text);
}

void BM_Dates(benchmark::State& state)
{
    const std::string date = "Tue, 15 Jun 1999 10:20:30 -0500 (EST)";
    for (auto _ : state)
        benchmark::DoNotOptimize(parse_date(date));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * date.size()));
}

}  // namespace

BENCHMARK(BM_Base64Lines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuotedPrintableLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UuencodeLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CharsetLatin1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CharsetIso2022Jp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodedWords);
BENCHMARK(BM_HeaderList);
BENCHMARK(BM_Dates);

BENCHMARK_MAIN();

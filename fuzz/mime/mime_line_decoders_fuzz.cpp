// Fuzzes the line decoders and the charset converter. The first byte picks
// the transfer encoding and the charset; the rest is split into lines.
// Decoded output stays within what each encoding can produce, and a
// converter fed one byte at a time gives what it gives for the whole text.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/store/mime/charset.h"
#include "engine/store/mime/line_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace corvane::mime;
    if (size == 0)
        return 0;
    static constexpr std::array kEncodings = {TransferEncoding::none, TransferEncoding::base64,
                                              TransferEncoding::quoted_printable, TransferEncoding::uuencode};
    static constexpr std::array<std::string_view, 8> kCharsets = {"utf-8", "ISO-2022-JP", "shift_jis",  "gb2312",
                                                                  "big5",  "euc-kr",      "iso-8859-1", "x-unknown"};
    const TransferEncoding encoding = kEncodings[data[0] % kEncodings.size()];
    const std::string_view charset = kCharsets[(data[0] / 4) % kCharsets.size()];
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

    LineDecoder decoder(encoding);
    std::string decoded;
    std::size_t lines = 0;
    std::size_t from = 0;
    while (from <= input.size()) {
        std::size_t lf = input.find('\n', from);
        std::size_t end = lf == std::string_view::npos ? input.size() : lf;
        std::string_view line = input.substr(from, end - from);
        std::size_t before = decoded.size();
        decoder.decode(line, decoded);
        std::size_t produced = decoded.size() - before;
        bool ok = true;
        switch (encoding) {
        case TransferEncoding::none:
            ok = produced == line.size() + 2;
            break;
        case TransferEncoding::quoted_printable:
            ok = produced <= line.size() + 2;
            break;
        case TransferEncoding::base64:
            ok = produced <= line.size() * 3 / 4 + 1;
            break;
        case TransferEncoding::uuencode:
            ok = produced <= 63;
            break;
        }
        if (!ok)
            std::abort();
        ++lines;
        from = end + 1;
    }

    std::string whole = to_utf8(charset, decoded);
    CharsetConverter converter(charset);
    std::string pieces;
    for (char c : decoded)
        converter.convert(std::string_view(&c, 1), pieces);
    converter.finish(pieces);
    if (whole != pieces)
        std::abort();
    return 0;
}

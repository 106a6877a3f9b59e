#include "common/text/base64.h"

#include <array>
#include <cstdint>

namespace corvane::text {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> make_decode_table()
{
    std::array<std::int8_t, 256> table{};
    for (auto& v : table)
        v = -1;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}
constexpr auto decode_table = make_decode_table();

}  // namespace

std::string base64_encode(std::string_view data, Padding padding)
{
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    auto at = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(data[k])); };
    for (; i + 3 <= data.size(); i += 3) {
        std::uint32_t v = (at(i) << 16) | (at(i + 1) << 8) | at(i + 2);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    std::size_t rest = data.size() - i;
    if (rest == 1) {
        std::uint32_t v = at(i) << 16;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        if (padding == Padding::with)
            out += "==";
    } else if (rest == 2) {
        std::uint32_t v = (at(i) << 16) | (at(i + 1) << 8);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        if (padding == Padding::with)
            out += '=';
    }
    return out;
}

std::optional<std::string> base64_decode(std::string_view text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t accumulator = 0;
    int bits = 0;
    std::size_t symbols = 0;
    std::size_t pads = 0;
    for (char c : text) {
        if (c == '\r' || c == '\n')
            continue;
        if (c == '=') {
            ++pads;
            continue;
        }
        if (pads > 0)
            return std::nullopt;  // data after padding
        std::int8_t v = decode_table[static_cast<unsigned char>(c)];
        if (v < 0)
            return std::nullopt;
        ++symbols;
        accumulator = (accumulator << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((accumulator >> bits) & 0xFF);
        }
    }
    std::size_t tail = symbols % 4;
    if (tail == 1 || pads > 2 || (pads > 0 && (symbols + pads) % 4 != 0))
        return std::nullopt;
    return out;
}

int base64_value(char c)
{
    return decode_table[static_cast<unsigned char>(c)];
}

bool is_base64_alphabet(std::string_view text)
{
    for (char c : text) {
        if (decode_table[static_cast<unsigned char>(c)] < 0)
            return false;
    }
    return true;
}

}  // namespace corvane::text

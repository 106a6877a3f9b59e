// ISO-2022-JP (RFC 1468) from UTF-8, for the mail a Japanese session sends.
//
// Pages and forms are UTF-8, so the text to send arrives as UTF-8 and is
// converted with iconv. Half-width katakana have no place in ISO-2022-JP:
// they become their full-width forms first, a following voiced or
// semi-voiced sound mark joining the kana where a composed form exists.
// A character ISO-2022-JP cannot carry (an emoji, most of Unicode outside
// JIS X 0208) and bytes that are not UTF-8 become "?", so the conversion
// never fails and never drops a line. Every result ends in ASCII mode, so
// results can be joined or put into separate encoded words.
#pragma once

#include <string>
#include <string_view>

namespace corvane::compose {

std::string utf8_to_iso2022jp(std::string_view utf8);

// Half-width katakana (U+FF61..U+FF9F) replaced by full-width ones; other
// text unchanged.
std::string widen_katakana(std::string_view utf8);

}  // namespace corvane::compose

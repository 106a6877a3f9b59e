#include "engine/store/html_sanitizer/url_filter.h"

#include "common/text/strings.h"

namespace corvane::sanitize {

namespace {

constexpr std::size_t kMaxUrl = 8192;

bool is_scheme_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' ||
           c == '.';
}

}  // namespace

CleanUrl classify_url(std::string_view raw)
{
    CleanUrl result;
    while (!raw.empty() && static_cast<unsigned char>(raw.front()) <= 0x20)
        raw.remove_prefix(1);
    while (!raw.empty() && static_cast<unsigned char>(raw.back()) <= 0x20)
        raw.remove_suffix(1);
    if (raw.empty() || raw.size() > kMaxUrl)
        return result;
    std::string url;
    url.reserve(raw.size());
    for (char c : raw) {
        if (c == '\t' || c == '\r' || c == '\n')
            continue;
        // Other control bytes have no place in a URL; a browser would
        // percent-encode them, we refuse the URL.
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return result;
        url.push_back(c);
    }
    std::size_t colon = url.find(':');
    if (colon == std::string::npos || colon == 0)
        return result;
    for (std::size_t i = 0; i < colon; ++i) {
        if (!is_scheme_char(url[i]))
            return result;
    }
    std::string scheme = text::lower(std::string_view(url).substr(0, colon));
    std::string_view rest = std::string_view(url).substr(colon + 1);
    if (scheme == "http" || scheme == "https") {
        // A web URL needs a host: "http:foo" is relative in browsers.
        if (!rest.starts_with("//") || rest.size() < 3 || rest[2] == '/' || rest[2] == '\\')
            return result;
        result.kind = scheme == "https" ? UrlKind::secure_web : UrlKind::web;
    } else if (scheme == "mailto") {
        result.kind = UrlKind::mail;
    } else if (scheme == "cid") {
        if (rest.empty())
            return result;
        result.kind = UrlKind::content_id;
    } else if (scheme == "data") {
        static constexpr std::string_view types[] = {"image/png;base64,", "image/gif;base64,",  "image/jpeg;base64,",
                                                     "image/jpg;base64,", "image/webp;base64,", "image/bmp;base64,"};
        bool ok = false;
        for (std::string_view t : types) {
            if (text::istarts_with(rest, t)) {
                ok = true;
                // Base64 only: nothing in it can end an attribute or
                // smuggle a second URL.
                for (char c : rest.substr(t.size())) {
                    bool b64 = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                               c == '/' || c == '=' || c == ' ';
                    if (!b64) {
                        ok = false;
                        break;
                    }
                }
                break;
            }
        }
        if (!ok)
            return result;
        result.kind = UrlKind::data_image;
    } else {
        return result;
    }
    result.url = std::move(url);
    return result;
}

std::string content_id_of_url(std::string_view cid_url)
{
    std::size_t colon = cid_url.find(':');
    std::string_view id = colon == std::string_view::npos ? cid_url : cid_url.substr(colon + 1);
    std::string out;
    out.reserve(id.size());
    for (std::size_t i = 0; i < id.size(); ++i) {
        if (id[i] == '%' && i + 2 < id.size() && text::hex_value(id[i + 1]) >= 0 && text::hex_value(id[i + 2]) >= 0) {
            out.push_back(static_cast<char>(text::hex_value(id[i + 1]) * 16 + text::hex_value(id[i + 2])));
            i += 2;
        } else {
            out.push_back(id[i]);
        }
    }
    return out;
}

}  // namespace corvane::sanitize

// The URLs an HTML mail may keep, and the form they are written in.
//
// A URL is read the way browsers read it before they pick a scheme: blanks
// and control characters at either end are ignored, tabs, CR and LF inside
// are dropped (so "java\tscript:" is "javascript:"). Only absolute URLs with
// an allowed scheme survive: a relative URL would point into this server,
// where every link carries the reader's session. What is done with each
// scheme is the sanitiser's choice (html_sanitizer.h); this file only
// classifies.
#pragma once

#include <string>
#include <string_view>

namespace corvane::sanitize {

enum class UrlKind {
    refused,     // no scheme, an unknown scheme, or unusable
    web,         // http: or https:
    secure_web,  // https: (a subset of web for images)
    mail,        // mailto:
    content_id,  // cid:, a part of the same message
    data_image,  // data:image/{png,gif,jpeg,webp,bmp};base64,...
};

struct CleanUrl {
    UrlKind kind = UrlKind::refused;
    std::string url;  // normalised as above
};

CleanUrl classify_url(std::string_view raw);

// The Content-ID a cid: URL names, its %XX escapes decoded (RFC 2392).
std::string content_id_of_url(std::string_view cid_url);

}  // namespace corvane::sanitize

// Whether a request was sent by a page of another site.
//
// A page elsewhere can make a browser post a form to the engine: into a
// session (the key cookie, SameSite=Strict, keeps that out already), or a
// logon with the other site's own account, after which the user reads and
// writes mail in a stranger's account without noticing. The dispatcher
// refuses such a request when it is a POST or carries a logon.
//
// A request comes from another site when the browser says so
// (Sec-Fetch-Site: cross-site); it does not when the browser says it comes
// from our own pages or from the user (same-origin, none), whatever Host a
// proxy in front passed on. Otherwise (no such header, or same-site: a
// neighbouring host may be a stranger's) it does when its Origin, or
// failing an Origin its Referer, names another host than its Host header. Host names are
// compared without regard to case and without their ports (every port of
// a host belongs to the same site as far as cookies go, and a proxy in
// front may change the port). "Origin: null", a missing header, or a value
// that names no host decide nothing: browsers send "null" for pages that
// hide their address, our own pages among them, since they send no
// referrer. A client without these headers (a mail client polling
// StatusCheck) is never refused.
//
// What it does not do: read the request or write the answer.
#pragma once

#include <string_view>

namespace corvane::dispatch {

struct RequestOrigin {
    std::string_view host;        // HTTP_HOST
    std::string_view origin;      // HTTP_ORIGIN
    std::string_view referer;     // HTTP_REFERER
    std::string_view fetch_site;  // HTTP_SEC_FETCH_SITE
};

bool from_another_site(const RequestOrigin& request);

// The host of an absolute URL ("https://user@Mail.Example:443/x" gives
// "Mail.Example"; "http://[::1]:2000/" gives "[::1]"); empty when the URL
// names none.
std::string_view url_host(std::string_view url);
// The host of a Host header value ("mail.example:2000" gives
// "mail.example").
std::string_view authority_host(std::string_view authority);

}  // namespace corvane::dispatch

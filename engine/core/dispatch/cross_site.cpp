#include "engine/core/dispatch/cross_site.h"

#include "common/text/strings.h"

namespace corvane::dispatch {

namespace {

bool same_host(std::string_view a, std::string_view b)
{
    // "mail.example." and "mail.example" name the same host.
    if (!a.empty() && a.back() == '.')
        a.remove_suffix(1);
    if (!b.empty() && b.back() == '.')
        b.remove_suffix(1);
    return text::iequals(a, b);
}

// An Origin or Referer header that names a host other than host.
bool names_another_host(std::string_view value, std::string_view host)
{
    std::string_view named = url_host(text::trim(value));
    return !named.empty() && !same_host(named, host);
}

}  // namespace

std::string_view authority_host(std::string_view authority)
{
    authority = text::trim(authority);
    if (auto at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    if (!authority.empty() && authority.front() == '[') {
        auto close = authority.find(']');
        return close == std::string_view::npos ? std::string_view() : authority.substr(0, close + 1);
    }
    return authority.substr(0, authority.find(':'));
}

std::string_view url_host(std::string_view url)
{
    auto scheme_end = url.find("://");
    if (scheme_end == std::string_view::npos || scheme_end == 0)
        return {};
    for (char c : url.substr(0, scheme_end)) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' ||
              c == '.'))
            return {};
    }
    std::string_view rest = url.substr(scheme_end + 3);
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    return authority_host(authority);
}

bool from_another_site(const RequestOrigin& request)
{
    std::string_view site = text::trim(request.fetch_site);
    if (text::iequals(site, "cross-site"))
        return true;
    // The browser's own word, which no page can change: behind a proxy
    // that rewrites Host, Origin and Host differ on every form of ours.
    if (text::iequals(site, "same-origin") || text::iequals(site, "none"))
        return false;
    std::string_view host = authority_host(request.host);
    if (host.empty())
        return false;
    std::string_view origin = text::trim(request.origin);
    if (!origin.empty() && origin != "null")
        return names_another_host(origin, host);
    return names_another_host(request.referer, host);
}

}  // namespace corvane::dispatch

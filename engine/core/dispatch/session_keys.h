// Session keys: what ties a browser session to the browser that logged on.
//
// A session id is seven letters and travels in every URL, so it leaks
// (history, copied links, logs of proxies). A session made by a logon in a
// browser therefore also has a key, sent once as an HttpOnly cookie, and
// every request that names the session must bring that cookie along.
//
// The key of a session is an HMAC of its id and its user's name (in lower
// case) under a secret made when the library is loaded. So the key can be
// checked again after the session itself is gone: a request of an expired
// session may hand over the text the user was writing only when it comes
// from that user's browser. Sessions made without a browser (StatusCheck)
// have no key.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::dispatch {

class SessionKeys {
public:
    // 32 hexadecimal digits (128 bits).
    static constexpr std::size_t key_length = 32;

    // A fresh random secret.
    SessionKeys();

    std::string key_for(std::string_view session_id, std::string_view user_name) const;
    // True when presented is the key of that session and user; compared in
    // constant time, so the comparison tells nothing about a wrong key.
    bool matches(std::string_view session_id, std::string_view user_name, std::string_view presented) const;

    static bool same(std::string_view expected, std::string_view presented);

private:
    std::array<unsigned char, 32> m_secret{};
};

}  // namespace corvane::dispatch

// A real OpenLDAP slapd for tests and benchmarks, on 127.0.0.1 and a free
// port, with its state in a temporary directory; started by run-slapd
// beside this file and loaded from people.ldif.
//
// The server dies with the process that started it (parent-death signal),
// so a crashed test leaves no slapd behind. Start-up is bounded: a server
// that does not accept connections within ten seconds counts as failed.
#pragma once

#include <string>

#include "tests/peers/peer_process.h"

#ifndef CORVANE_SOURCE_DIR
#error "CORVANE_SOURCE_DIR must name the source tree"
#endif

namespace corvane::testing {

class SlapdPeer {
public:
    static constexpr const char* base = "dc=corvane,dc=test";

    // Empty when the server runs, otherwise why it does not.
    std::string start()
    {
        if (::access("/usr/sbin/slapd", X_OK) != 0)
            return "slapd is not installed (scripts/install-deps installs it)";
        return m_process.start(std::string(CORVANE_SOURCE_DIR) + "/tests/peers/slapd/run-slapd", {}, "slapd");
    }
    void stop() { m_process.stop(); }

    int port() const { return m_process.port(); }
    // "127.0.0.1:PORT", as a directory host text.
    std::string host() const { return "127.0.0.1:" + std::to_string(port()); }

private:
    PeerProcess m_process;
};

}  // namespace corvane::testing

// The tests' SMTP server: a real aiosmtpd (smtp_peer.py) on 127.0.0.1,
// started by run-smtp-peer beside this file, keeping what it accepts
// byte for byte. See smtp_peer.py for the faults a client can ask for.
#pragma once

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/peers/peer_process.h"

#ifndef CORVANE_SOURCE_DIR
#error "CORVANE_SOURCE_DIR must name the source tree"
#endif

namespace corvane::testing {

class SmtpPeer {
public:
    // options: "--size", "N", "--tls", "starttls", "--login", "user:password", ...
    std::string start(const std::vector<std::string>& options = {})
    {
        if (::access("/usr/bin/python3", X_OK) != 0)
            return "/usr/bin/python3 is missing (scripts/install-deps installs it)";
        return m_process.start(std::string(CORVANE_SOURCE_DIR) + "/tests/peers/smtp/run-smtp-peer", options, "smtp");
    }
    void stop() { m_process.stop(); }

    int port() const { return m_process.port(); }
    std::string mail_dir() const { return m_process.dir() + "/mail"; }
    // The certificate of a --tls server (trust it as a CA file).
    std::string certificate() const { return m_process.dir() + "/cert.pem"; }

    // The paths of the messages received so far (NNNN.eml), in order.
    std::vector<std::string> messages() const
    {
        std::vector<std::string> paths;
        if (DIR* d = ::opendir(mail_dir().c_str())) {
            while (dirent* e = ::readdir(d)) {
                std::string name = e->d_name;
                if (name.size() > 4 && name.compare(name.size() - 4, 4, ".eml") == 0)
                    paths.push_back(mail_dir() + "/" + name);
            }
            ::closedir(d);
        }
        std::sort(paths.begin(), paths.end());
        return paths;
    }

private:
    PeerProcess m_process;
};

}  // namespace corvane::testing

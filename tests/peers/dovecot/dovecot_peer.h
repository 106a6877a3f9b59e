// A real Dovecot POP3 server for tests and benchmarks, on 127.0.0.1 with a
// free POP3 and a free POP3S port, its state in a temporary directory;
// started by run-dovecot beside this file (see PeerProcess for the rules:
// bounded start, nothing left running).
//
// Accounts are given to start(); mail is made by writing Dovecot's own
// files: deliver() puts a message file into the account's Maildir/new,
// where the next POP3 session finds it. As root the server runs as nobody,
// and the files we make are given to it.
#pragma once

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/peers/peer_process.h"

#ifndef CORVANE_SOURCE_DIR
#error "CORVANE_SOURCE_DIR must name the source tree"
#endif

namespace corvane::testing {

class DovecotPeer {
public:
    struct Account {
        std::string name;
        std::string password;
    };

    // Empty when the server runs with these accounts (each with an empty
    // mailbox), otherwise why it does not.
    std::string start(const std::vector<Account>& accounts = {})
    {
        if (::access("/usr/sbin/dovecot", X_OK) != 0)
            return "dovecot is not installed (scripts/install-deps installs it)";
        if (::geteuid() == 0) {
            if (passwd* pw = ::getpwnam("nobody")) {
                m_uid = static_cast<int>(pw->pw_uid);
                m_gid = static_cast<int>(pw->pw_gid);
            }
        }
        m_pop3s = free_loopback_port();
        std::vector<std::string> args = {std::to_string(m_pop3s)};
        for (const Account& a : accounts)
            args.push_back(a.name + ":" + a.password);
        return m_process.start(std::string(CORVANE_SOURCE_DIR) + "/tests/peers/dovecot/run-dovecot", args, "dovecot");
    }
    void stop() { m_process.stop(); }

    int pop3_port() const { return m_process.port(); }
    int pop3s_port() const { return m_pop3s; }
    const std::string& dir() const { return m_process.dir(); }
    // The server's self-signed certificate, issued to "localhost".
    std::string ca_file() const { return dir() + "/cert.pem"; }
    std::string log() const
    {
        std::ifstream in(dir() + "/dovecot.log", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // A message for the account, as the next session will list it. Names
    // sort in delivery order, so the server numbers messages that way.
    void deliver(const std::string& user, const std::string& message)
    {
        std::string maildir = dir() + "/home/" + user + "/Maildir";
        int n = ++m_delivered;
        std::string name = std::to_string(1700000000 + n) + ".M" + std::to_string(n) + "P1.test";
        std::string temp = maildir + "/tmp/" + name;
        std::ofstream(temp, std::ios::binary) << message;
        if (m_uid >= 0 && ::chown(temp.c_str(), static_cast<uid_t>(m_uid), static_cast<gid_t>(m_gid)) != 0) {
            // The server will say what it cannot read.
        }
        std::rename(temp.c_str(), (maildir + "/new/" + name).c_str());
    }

    // Messages the account holds now (new and seen).
    std::size_t message_count(const std::string& user) const
    {
        std::string maildir = dir() + "/home/" + user + "/Maildir";
        return count_files(maildir + "/new") + count_files(maildir + "/cur");
    }

private:
    static std::size_t count_files(const std::string& path)
    {
        std::string command = "ls -1 '" + path + "' 2>/dev/null | wc -l";
        FILE* p = ::popen(command.c_str(), "r");
        if (!p)
            return 0;
        std::size_t n = 0;
        if (std::fscanf(p, "%zu", &n) != 1)
            n = 0;
        ::pclose(p);
        return n;
    }

    PeerProcess m_process;
    int m_pop3s = -1;
    int m_uid = -1;
    int m_gid = -1;
    int m_delivered = 0;
};

}  // namespace corvane::testing

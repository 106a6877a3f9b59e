// A real Dovecot POP3 server for tests and benchmarks, on 127.0.0.1 and two
// free ports (POP3 and POP3S), with its state in a temporary directory;
// started by run-dovecot beside this file.
//
// Accounts and mail are made by writing Dovecot's own files: start() writes
// the accounts it is given into the users file, deliver() puts a message file into the account's Maildir/new, where the
// next POP3 session finds it. The server dies with the process that started
// it (parent-death signal), start-up is bounded to ten seconds, and stop()
// removes everything.
#pragma once

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/peers/slapd/slapd_peer.h"  // free_loopback_port, loopback_port_accepts

#ifndef CORVANE_SOURCE_DIR
#error "CORVANE_SOURCE_DIR must name the source tree"
#endif

namespace corvane::testing {

class DovecotPeer {
public:
    DovecotPeer() = default;
    DovecotPeer(const DovecotPeer&) = delete;
    DovecotPeer& operator=(const DovecotPeer&) = delete;
    ~DovecotPeer() { stop(); }

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
            // The server runs as nobody; the files we make must be its own.
            if (passwd* pw = ::getpwnam("nobody")) {
                m_uid = static_cast<int>(pw->pw_uid);
                m_gid = static_cast<int>(pw->pw_gid);
            }
        }
        for (int attempt = 0; attempt < 3; ++attempt) {
            std::string pattern = "/tmp/corvane-dovecot-XXXXXX";
            if (!::mkdtemp(pattern.data()))
                return "mkdtemp failed";
            m_dir = pattern;
            for (const Account& a : accounts)
                add_user(a.name, a.password);
            m_pop3 = free_loopback_port();
            m_pop3s = free_loopback_port();
            if (m_pop3 <= 0 || m_pop3s <= 0 || m_pop3 == m_pop3s)
                return "no free ports";
            if (spawn() && wait_ready())
                return {};
            stop();
        }
        return "dovecot did not start (see run-dovecot)";
    }

    void stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
            m_pid = -1;
        }
        if (!m_dir.empty()) {
            std::string command = "rm -rf '" + m_dir + "'";
            if (std::system(command.c_str()) != 0) {
                // A leftover directory in /tmp does not change any result.
            }
            m_dir.clear();
        }
    }

    int pop3_port() const { return m_pop3; }
    int pop3s_port() const { return m_pop3s; }
    const std::string& dir() const { return m_dir; }
    // The server's self-signed certificate, issued to "localhost".
    std::string ca_file() const { return m_dir + "/cert.pem"; }
    std::string log() const { return read(m_dir + "/dovecot.log"); }

    // An account with an empty mailbox. Dovecot looks at its users file at
    // most once a second: a running server may take that long to know it.
    void add_user(const std::string& name, const std::string& password)
    {
        make_dir(m_dir + "/home");
        std::string home = m_dir + "/home/" + name;
        for (const char* sub : {"", "/Maildir", "/Maildir/new", "/Maildir/cur", "/Maildir/tmp"})
            make_dir(home + sub);
        std::string users = m_dir + "/users";
        std::ofstream(users, std::ios::app) << name << ":{PLAIN}" << password << "::::::\n";
        give(users);
    }

    // A message for the account, as the next session will list it. Names
    // sort in delivery order, so the server numbers messages that way.
    void deliver(const std::string& user, const std::string& message)
    {
        std::string maildir = m_dir + "/home/" + user + "/Maildir";
        int n = ++m_delivered;
        std::string name = std::to_string(1700000000 + n) + ".M" + std::to_string(n) + "P1.test";
        std::string temp = maildir + "/tmp/" + name;
        std::ofstream(temp, std::ios::binary) << message;
        give(temp);
        std::rename(temp.c_str(), (maildir + "/new/" + name).c_str());
    }

    // Messages the account holds now (new and seen).
    std::size_t message_count(const std::string& user) const
    {
        std::string maildir = m_dir + "/home/" + user + "/Maildir";
        return count_files(maildir + "/new") + count_files(maildir + "/cur");
    }

private:
    static std::string read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static std::size_t count_files(const std::string& dir)
    {
        std::string command = "ls -1 '" + dir + "' 2>/dev/null | wc -l";
        FILE* p = ::popen(command.c_str(), "r");
        if (!p)
            return 0;
        std::size_t n = 0;
        if (std::fscanf(p, "%zu", &n) != 1)
            n = 0;
        ::pclose(p);
        return n;
    }
    void make_dir(const std::string& path)
    {
        ::mkdir(path.c_str(), 0700);
        give(path);
    }
    void give(const std::string& path)
    {
        if (m_uid >= 0 && ::chown(path.c_str(), static_cast<uid_t>(m_uid), static_cast<gid_t>(m_gid)) != 0) {
            // The server will say what it cannot read.
        }
    }

    bool spawn()
    {
        std::string script = std::string(CORVANE_SOURCE_DIR) + "/tests/peers/dovecot/run-dovecot";
        std::string pop3 = std::to_string(m_pop3);
        std::string pop3s = std::to_string(m_pop3s);
        pid_t parent = ::getpid();
        pid_t pid = ::fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit(1);
            int null = ::open("/dev/null", O_RDWR);
            if (null >= 0) {
                ::dup2(null, 0);
                ::dup2(null, 1);
            }
            ::execl("/bin/bash", "bash", script.c_str(), m_dir.c_str(), pop3.c_str(), pop3s.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        m_pid = pid;
        return true;
    }

    bool wait_ready()
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            if (loopback_port_accepts(m_pop3) && loopback_port_accepts(m_pop3s))
                return true;
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::string m_dir;
    int m_pop3 = -1;
    int m_pop3s = -1;
    pid_t m_pid = -1;
    int m_uid = -1;
    int m_gid = -1;
    int m_delivered = 0;
};

}  // namespace corvane::testing

// The common ground of the black-box tests: a tree, the server program and
// short-hands for requests and the server's files.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/webserver/server_harness.h"

namespace corvane::testing {

class WebServerTest : public ::testing::Test {
protected:
    void start(const std::string& in_section = "", const std::string& sections = "")
    {
        m_tree.write_ini("AdminWebServer", in_section, sections);
        ASSERT_TRUE(m_server.start(LARKD_PATH, m_tree.path("Corvane.ini"), m_tree.path("Logs")))
            << m_server.stderr_text() << m_tree.read("Logs/Larkd-admin.log");
    }
    HttpResponse get(const std::string& path, const std::string& source = "127.0.0.1")
    {
        return http(m_tree.port(), "GET " + path + " HTTP/1.0\r\nUser-Agent: Test/1.0\r\n\r\n", source);
    }
    HttpResponse request(const std::string& raw, const std::string& source = "127.0.0.1")
    {
        return http(m_tree.port(), raw, source);
    }
    std::string log() const { return m_tree.read("Logs/Larkd-admin.log"); }
    std::string access_log() const { return m_tree.read("Logs/http-admin.log"); }
    // The log lines of one request are complete once its access-log line is.
    bool wait_access(const std::string& text) const { return m_tree.wait_for("Logs/http-admin.log", text); }
    bool wait_log(const std::string& text) const { return m_tree.wait_for("Logs/Larkd-admin.log", text); }
    // Copies a built file into the tree.
    void install(const std::string& from, const std::string& relative, unsigned mode = 0755)
    {
        std::string command = "cp '" + from + "' '" + m_tree.path(relative) + "' && chmod " +
                              std::to_string(mode / 64) + std::to_string(mode / 8 % 8) + std::to_string(mode % 8) +
                              " '" + m_tree.path(relative) + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    ServerTree m_tree;
    ServerProcess m_server;
};

}  // namespace corvane::testing

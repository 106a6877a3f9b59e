// A users directory, engine settings, a password codec and a log that keeps
// its lines, for the account tests.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "common/codec/password_codec.h"
#include "common/ini/profile.h"
#include "common/log/log_file.h"
#include "common/platform/files.h"
#include "engine/core/accounts/accounts_context.h"
#include "tests/support/temp_dir.h"

namespace corvane::testing {

class CapturingLog final : public log::Logger {
public:
    void write_raw(std::string_view bytes) override { write_message(bytes); }
    void flush() override {}
    int threshold() const override { return 1; }

    bool contains(std::string_view needle) const
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        for (const auto& line : m_lines)
            if (line.find(needle) != std::string::npos)
                return true;
        return false;
    }
    std::string all() const
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        std::string out;
        for (const auto& line : m_lines)
            out += line + "\n";
        return out;
    }

protected:
    void write_message(std::string_view message) override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_lines.emplace_back(message);
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

class AccountsTest : public ::testing::Test {
protected:
    AccountsTest() : m_settings(m_tmp / "Corvane.ini"), m_codec(codec::key_path_for(m_tmp / "Corvane.ini"))
    {
        EXPECT_TRUE(platform::make_directory(m_tmp / "Users").ok());
        m_context.settings = &m_settings;
        m_context.user_dir = m_tmp / "Users";
        m_context.codec = &m_codec;
        m_context.log = &m_log;
    }

    // Writes a User.ini (creating the account directory) with the given text.
    std::string make_account(const std::string& name, const std::string& user_ini)
    {
        std::string dir = m_context.user_dir + "/" + name;
        EXPECT_TRUE(platform::make_directories(dir).ok());
        std::string path = dir + "/User.ini";
        EXPECT_TRUE(platform::write_file_atomic(path, user_ini).ok());
        return path;
    }
    std::string scrambled(std::string_view secret) { return *m_codec.scramble(secret); }
    std::string read(const std::string& path) { return platform::read_file(path).value(); }

    TempDir m_tmp;
    ini::Profile m_settings;
    codec::PasswordCodec m_codec;
    CapturingLog m_log;
    accounts::AccountsContext m_context;
};

}  // namespace corvane::testing

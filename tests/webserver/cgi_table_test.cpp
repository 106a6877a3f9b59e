#include "webserver/cgi_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/codec/password_codec.h"
#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "tests/support/temp_dir.h"

using namespace corvane::webserver;
namespace fs = corvane::platform;

namespace {

class CapturingLog final : public corvane::log::Logger {
public:
    void write_raw(std::string_view bytes) override { lines.emplace_back(bytes); }
    void flush() override {}
    int threshold() const override { return 1; }
    bool contains(std::string_view text) const
    {
        for (const auto& l : lines) {
            if (l.find(text) != std::string::npos)
                return true;
        }
        return false;
    }
    std::vector<std::string> lines;

protected:
    void write_message(std::string_view message) override { lines.emplace_back(message); }
};

class CgiTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"a.cgi", "b.EXE", "noext", "c.txt", "d.cgi"})
            ASSERT_TRUE(fs::write_file_atomic(m_tmp / name, "#!/bin/sh\n").ok());
    }
    std::string ini() const { return m_tmp / "Corvane.ini"; }
    void configure(const std::string& section_body)
    {
        ASSERT_TRUE(fs::write_file_atomic(ini(), "[AdminWebServer]\n" + section_body).ok());
    }

    corvane::testing::TempDir m_tmp;
    CapturingLog m_log;
};

}  // namespace

TEST_F(CgiTableTest, ReadsEveryIndexAndSkipsWhatCannotRun)
{
    configure("CgiBase1=/lib\nCgiFile1=" + m_tmp / "a.cgi" +
              "\n"
              // a gap at 2 does not end the scan
              "CgiBase3=/prog\nCgiFile3=" +
              m_tmp / "b.EXE" + "\nCgiBase4=/noext\nCgiFile4=" + m_tmp / "noext" +
              "\nCgiBase5=/text\nCgiFile5=" + m_tmp / "c.txt" + "\nCgiBase6=/gone\nCgiFile6=" + m_tmp / "missing.cgi" +
              "\nCgiFile7=" + m_tmp / "d.cgi" +  // no base
              "\nCgiBase50=/last\nCgiFile50=" + m_tmp / "d.cgi" + "\nCgiBase51=/beyond\nCgiFile51=" + m_tmp / "d.cgi" +
              "\n");
    ServerConfig config(ini(), Role::admin);
    corvane::codec::PasswordCodec codec(corvane::codec::key_path_for(ini()));
    CgiTable table;
    ASSERT_TRUE(table.load(config, codec, m_log));
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table.entry(0).base_path, "/lib");
    EXPECT_EQ(table.entry(1).base_path, "/prog");
    EXPECT_EQ(table.entry(2).index, 50);
    EXPECT_EQ(table.library_count(), 0u);

    EXPECT_FALSE(m_log.contains("noext"));  // a file without "." is ignored silently
    EXPECT_TRUE(m_log.contains("Don't know what to do with " + m_tmp / "c.txt"));
    EXPECT_TRUE(m_log.contains("Could not find " + m_tmp / "missing.cgi"));
    EXPECT_FALSE(m_log.contains("Telling CGI DLLs"));  // programs need no start
}

TEST_F(CgiTableTest, MatchesTheBasePathAsAWholeSegment)
{
    configure("CgiBase1=/Corvane\nCgiFile1=" + m_tmp / "a.cgi" + "\nCgiBase2=/cv/admin\nCgiFile2=" + m_tmp / "d.cgi" +
              "\nCgiBase3=/Corvane/x\nCgiFile3=" + m_tmp / "d.cgi" + "\n");
    ServerConfig config(ini(), Role::admin);
    corvane::codec::PasswordCodec codec(corvane::codec::key_path_for(ini()));
    CgiTable table;
    ASSERT_TRUE(table.load(config, codec, m_log));

    struct Case {
        const char* path;
        int index;  // 0: no match
        const char* path_info;
    };
    const Case cases[] = {
        {"/Corvane", 1, ""},
        {"/corvane", 1, ""},
        {"/Corvane/", 1, "/"},
        {"/Corvane/one/two", 1, "/one/two"},
        {"/Corvane/x/y", 1, "/x/y"},  // table order wins over a longer base
        {"/CorvaneMail", 0, ""},
        {"/Corvan", 0, ""},
        {"/cv/admin/Users", 2, "/Users"},
        {"/cv", 0, ""},
        {"/", 0, ""},
    };
    for (const auto& c : cases) {
        auto m = table.find(c.path);
        if (c.index == 0) {
            EXPECT_FALSE(m) << c.path;
            continue;
        }
        ASSERT_TRUE(m) << c.path;
        EXPECT_EQ(m->entry->index, c.index) << c.path;
        EXPECT_EQ(m->path_info, c.path_info) << c.path;
    }
}

TEST_F(CgiTableTest, PlainTextCredentialsAreScrambledAtLoad)
{
    configure("CgiBase1=/a\nCgiFile1=" + m_tmp / "a.cgi" + "\nCgiAuth1=-admin:Secret\n");
    ServerConfig config(ini(), Role::admin);
    corvane::codec::PasswordCodec codec(corvane::codec::key_path_for(ini()));
    CgiTable table;
    ASSERT_TRUE(table.load(config, codec, m_log));
    std::string stored = corvane::ini::Profile(ini()).text("AdminWebServer", "CgiAuth1", "");
    EXPECT_NE(stored.front(), '-');
    EXPECT_EQ(stored.find("Secret"), std::string::npos);
    EXPECT_EQ(table.entry(0).credentials, stored);
    EXPECT_EQ(codec.unscramble(stored).value(), "admin:Secret");
}

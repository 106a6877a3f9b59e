#include "common/log/log_file.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "tests/support/temp_dir.h"

using namespace corvane::log;
using corvane::testing::TempDir;
namespace fs = corvane::platform;

namespace {

// 2026-12-02 10:00:00 UTC, a Wednesday.
constexpr std::time_t wednesday = 1796205600;

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    LogSettings settings(int threshold = 1)
    {
        LogSettings s;
        s.directory = m_tmp.path();
        s.threshold = threshold;
        return s;
    }
    std::string read(const std::string& name) { return fs::read_file(m_tmp / name).value(); }
    std::vector<std::string> lines(const std::string& name)
    {
        std::vector<std::string> out;
        std::string all = read(name);
        std::size_t pos = 0;
        while (pos < all.size()) {
            auto end = all.find("\r\n", pos);
            if (end == std::string::npos)
                end = all.size();
            out.push_back(all.substr(pos, end - pos));
            pos = end + 2;
        }
        return out;
    }

    TempDir m_tmp;
    fs::ManualClock m_clock{wednesday};
    fs::ScopedClock m_scoped{m_clock};
};

}  // namespace

TEST_F(LogTest, ThresholdDropsLowerLevelsButKeepsBanners)
{
    {
        LogFile log(settings(3));
        log.line(Level::detail, "detail %d", 1);
        log.line(Level::routine, "routine");
        log.line(Level::notable, "Bad logon attempt for user %s", "jo");
        log.line(Level::error, "Could not %s", "do it");
    }
    auto got = lines("Corvane.log");
    ASSERT_EQ(got.size(), 4u) << read("Corvane.log");
    EXPECT_EQ(got[0], "[Wed 2026-12-02 10:00:00] ----- Corvane Pro 2.0.1 Log file starting -----");
    EXPECT_EQ(got[1], "[Wed 2026-12-02 10:00:00] Bad logon attempt for user jo");
    EXPECT_EQ(got[2], "[Wed 2026-12-02 10:00:00] Could not do it");
    EXPECT_EQ(got[3], "[Wed 2026-12-02 10:00:00] ----- Corvane Pro 2.0.1 Log file stopping -----");
    {
        LogFile quiet(settings(7));
        quiet.line(Level::banner, "nothing at all");
    }
    EXPECT_EQ(lines("Corvane.log").size(), 4u) << "a threshold above 6 silences even the banners";
}

TEST_F(LogTest, LineEndsAndOverlongMessages)
{
    {
        LogFile log(settings());
        log.line(Level::detail, "already ends\n");
        log.line(Level::detail, "gets CR LF");
        std::string big(5000, 'm');
        log.line(Level::detail, "%s", big.c_str());
        log.message(Level::detail, big + "\n");
        log.line(Level::detail, "after");
    }
    std::string all = read("Corvane.log");
    EXPECT_NE(all.find("] already ends\n["), std::string::npos) << "no CR LF after a line feed";
    EXPECT_NE(all.find("] gets CR LF\r\n"), std::string::npos);
    auto got = lines("Corvane.log");
    int cut_lines = 0;
    for (const auto& l : got) {
        EXPECT_LE(l.size() + 2, max_line);
        if (l.find("mmmm") != std::string::npos) {
            ++cut_lines;
            EXPECT_EQ(l.size() + 2, max_line);
        }
    }
    EXPECT_EQ(cut_lines, 2);
    EXPECT_NE(all.find("] after\r\n"), std::string::npos);
}

TEST_F(LogTest, RotationWords)
{
    EXPECT_EQ(rotation_from_text("weekly"), Rotation::weekly);
    EXPECT_EQ(rotation_from_text("DAILY"), Rotation::daily);
    EXPECT_EQ(rotation_from_text("Monthly"), Rotation::monthly);
    for (const char* word : {"yearly", "", "week", "daily "})
        EXPECT_EQ(rotation_from_text(word), Rotation::none) << word;
}

TEST_F(LogTest, WeeklyRotationBegunOnWednesdayTurnsOnSunday)
{
    auto s = settings();
    s.rotation = Rotation::weekly;
    LogFile log(s);
    EXPECT_EQ(log.current_path(), m_tmp / "CV20261202.log");
    log.line(Level::detail, "wednesday");
    m_clock.set(wednesday + 3 * 86400 + 13 * 3600 + 59 * 60 + 59);  // Saturday 23:59:59
    EXPECT_FALSE(log.check_rotation());
    m_clock.set(wednesday + 4 * 86400 - 10 * 3600);  // Sunday 00:00:00
    EXPECT_TRUE(log.check_rotation());
    EXPECT_EQ(log.current_path(), m_tmp / "CV20261206.log");
    log.line(Level::detail, "sunday");
    auto old_lines = lines("CV20261202.log");
    EXPECT_EQ(old_lines.back(), "[Sun 2026-12-06 00:00:00] ----- Corvane Pro 2.0.1 Log file rotating -----")
        << "the old file ends with the rotating banner";
    EXPECT_NE(read("CV20261206.log").find("Log file starting"), std::string::npos);
    EXPECT_NE(read("CV20261206.log").find("] sunday"), std::string::npos);
    // From a Sunday the next rotation is a full week ahead.
    EXPECT_EQ(LogFile::next_rotation(Rotation::weekly, wednesday + 4 * 86400 - 10 * 3600),
              wednesday + 11 * 86400 - 10 * 3600);
}

TEST_F(LogTest, DailyAndMonthlyRotationCrossTheYear)
{
    std::time_t new_years_eve = 1798718400;  // 2026-12-31 12:00:00 UTC
    std::time_t new_year = 1798761600;       // 2027-01-01 00:00:00 UTC
    EXPECT_EQ(LogFile::next_rotation(Rotation::monthly, new_years_eve), new_year);
    EXPECT_EQ(LogFile::next_rotation(Rotation::daily, new_years_eve), new_year);
    EXPECT_EQ(LogFile::dated_name("/logs/CV", new_years_eve), "/logs/CV20261231.log");

    m_clock.set(new_years_eve);
    auto s = settings();
    s.rotation = Rotation::monthly;
    LogFile log(s);
    m_clock.set(new_year);
    EXPECT_TRUE(log.check_rotation());
    EXPECT_EQ(log.current_path(), m_tmp / "CV20270101.log");
}

TEST_F(LogTest, NoLimitAndNoRotationMeansTheFileJustGrows)
{
    auto s = settings();
    s.size_limit_kb = 0;
    LogFile log(s);
    for (int i = 0; i < 200; ++i)
        log.line(Level::detail, "line %d with some padding to make it grow", i);
    EXPECT_FALSE(log.check_rotation());
    EXPECT_FALSE(fs::exists(m_tmp / "Corvane.old"));
    EXPECT_FALSE(fs::exists(m_tmp / "LOCKLOG.SEM"));
}

TEST_F(LogTest, TooLargeFileMovesAsideReplacingTheOlderOne)
{
    ASSERT_TRUE(fs::write_file_atomic(m_tmp / "Corvane.old", "older").ok());
    auto s = settings();
    s.size_limit_kb = 1;
    LogFile log(s);
    log.line(Level::detail, "small");
    EXPECT_FALSE(log.check_rotation());
    for (int i = 0; i < 30; ++i)
        log.line(Level::detail, "filling line %d ........................................", i);
    EXPECT_TRUE(log.check_rotation());
    EXPECT_FALSE(fs::exists(m_tmp / "LOCKLOG.SEM"));
    std::string aside = read("Corvane.old");
    EXPECT_EQ(aside.find("older"), std::string::npos);
    EXPECT_NE(aside.find("filling line 29"), std::string::npos);
    EXPECT_EQ(lines("Corvane.old").back(),
              "[Wed 2026-12-02 10:00:00] ----- Corvane Pro 2.0.1 Log file too large -----");
    EXPECT_EQ(lines("Corvane.log").front(),
              "[Wed 2026-12-02 10:00:00] ----- Corvane Pro 2.0.1 Log file starting -----");
    EXPECT_FALSE(log.check_rotation());

    // A move that fails keeps writing to the large file; the lock file shows
    // the move is still pending until a later check completes it.
    for (int i = 0; i < 30; ++i)
        log.line(Level::detail, "filling again %d .......................................", i);
    ASSERT_TRUE(fs::remove_file(m_tmp / "Corvane.old").ok());
    ASSERT_TRUE(fs::make_directories(m_tmp / "Corvane.old/blocker").ok());
    EXPECT_TRUE(log.check_rotation());
    EXPECT_TRUE(fs::exists(m_tmp / "LOCKLOG.SEM"));
    log.line(Level::detail, "still written");
    EXPECT_NE(read("Corvane.log").find("still written"), std::string::npos);
    ASSERT_TRUE(fs::remove_tree(m_tmp / "Corvane.old").ok());
    EXPECT_TRUE(log.check_rotation());
    EXPECT_FALSE(fs::exists(m_tmp / "LOCKLOG.SEM"));
    EXPECT_NE(read("Corvane.old").find("still written"), std::string::npos);
}

TEST_F(LogTest, ServerLogVariantHasItsOwnNamesAndNoLockFile)
{
    LogSettings s = settings();
    s.file_name = "Larkd-admin.log";
    s.product = "Corvane Pro Admin Server 2.0.1";
    s.lock_file = false;
    s.size_limit_kb = 1;
    LogFile log(s);
    for (int i = 0; i < 30; ++i)
        log.line(Level::detail, "connection line %d ...................................", i);
    ASSERT_TRUE(fs::make_directory(m_tmp / "Larkd-admin.old").ok());  // blocks the move
    ASSERT_TRUE(fs::write_file_atomic(m_tmp / "Larkd-admin.old/x", "").ok());
    EXPECT_TRUE(log.check_rotation());
    EXPECT_FALSE(fs::exists(m_tmp / "LOCKLOG.SEM"));
    EXPECT_NE(read("Larkd-admin.log").find("----- Corvane Pro Admin Server 2.0.1 Log file too large -----"),
              std::string::npos);
}

TEST_F(LogTest, RequestBuffersWriteOneBlockUnlessThresholdIsOne)
{
    {
        LogFile log(settings(2));
        RequestLog request(&log);
        request.set_session("ABCDEFG");
        request.line(Level::routine, "BegRequest: View=%d %s", 3, "View=List");
        request.line(Level::detail, "dropped");
        EXPECT_EQ(read("Corvane.log").find("BegRequest"), std::string::npos) << "held until the request ends";
        request.line(Level::routine, "EndRequest: View=%d %s", 3, "View=List");
        request.flush();
        EXPECT_NE(read("Corvane.log")
                      .find("] [ABCDEFG] BegRequest: View=3 View=List\r\n[Wed 2026-12-02 10:00:00] "
                            "[ABCDEFG] EndRequest"),
                  std::string::npos)
            << read("Corvane.log");
        EXPECT_EQ(read("Corvane.log").find("dropped"), std::string::npos);
    }
    {
        LogFile log(settings(1));
        RequestLog request(&log);
        request.set_prefix("[17] ");
        request.line(Level::detail, "at once");
        EXPECT_NE(read("Corvane.log").find("] [17] at once\r\n"), std::string::npos);
        EXPECT_EQ(request.pending(), 0u);
    }
    RequestLog orphan(nullptr);
    orphan.line(Level::banner, "goes nowhere");
    RequestLog long_prefix(nullptr);
    long_prefix.set_session(std::string(100, 'S'));
    EXPECT_EQ(long_prefix.prefix().size(), max_prefix);
}

TEST_F(LogTest, ConcurrentRequestBlocksNeverInterleave)
{
    constexpr int threads = 8;
    constexpr int lines_per_thread = 1000;
    constexpr int lines_per_request = 10;
    {
        LogFile log(settings(2));
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&log, t] {
                for (int r = 0; r < lines_per_thread / lines_per_request; ++r) {
                    RequestLog request(&log);
                    request.set_session("T" + std::to_string(t));
                    for (int i = 0; i < lines_per_request; ++i)
                        request.line(Level::routine, "request %d line %d", r, i);
                }
            });
        }
        for (auto& w : workers)
            w.join();
    }
    auto got = lines("Corvane.log");
    ASSERT_EQ(got.size(), static_cast<std::size_t>(threads * lines_per_thread + 2));
    std::map<std::string, int> per_thread;
    for (std::size_t i = 1; i + 1 < got.size(); i += lines_per_request) {
        auto open = got[i].find("] [T");
        ASSERT_NE(open, std::string::npos) << got[i];
        std::string who = got[i].substr(open + 2, got[i].find(']', open + 2) - open - 1);
        for (int k = 0; k < lines_per_request; ++k) {
            std::ostringstream want;
            want << who << " request ";
            ASSERT_NE(got[i + k].find(want.str()), std::string::npos) << "line " << i + k << ": " << got[i + k];
            ASSERT_NE(got[i + k].find(" line " + std::to_string(k)), std::string::npos) << got[i + k];
        }
        per_thread[who] += lines_per_request;
    }
    EXPECT_EQ(per_thread.size(), static_cast<std::size_t>(threads));
    for (auto& [who, count] : per_thread)
        EXPECT_EQ(count, lines_per_thread) << who;
}

TEST_F(LogTest, UnwritableDirectoryLosesLinesButNeverCrashes)
{
    LogSettings s = settings();
    s.directory = m_tmp / "not-yet";
    LogFile log(s);
    EXPECT_FALSE(log.is_open());
    log.line(Level::lifecycle, "lost");
    RequestLog request(&log);
    request.line(Level::lifecycle, "lost too");
    request.flush();
    EXPECT_FALSE(log.check_rotation());
    ASSERT_TRUE(fs::make_directory(m_tmp / "not-yet").ok());
    log.line(Level::lifecycle, "found");
    EXPECT_TRUE(log.is_open());
    std::string all = read("not-yet/Corvane.log");
    EXPECT_NE(all.find("Log file starting"), std::string::npos);
    EXPECT_NE(all.find("] found"), std::string::npos);
    EXPECT_EQ(all.find("lost"), std::string::npos);
}

// A line may be logged while a thread's thread-local objects are being
// destroyed (a host that stops the engine from an exit handler does so).
TEST_F(LogTest, LinesCanBeWrittenDuringThreadExit)
{
    LogFile log(settings());
    struct LogsWhenDestroyed {
        LogFile* log = nullptr;
        ~LogsWhenDestroyed()
        {
            if (log)
                log->line(Level::lifecycle, "from a thread-local destructor");
        }
    };
    std::thread([&log] {
        thread_local LogsWhenDestroyed guard;  // constructed before the stamp cache, destroyed after it
        guard.log = &log;
        log.line(Level::lifecycle, "while running");
    }).join();
    auto got = lines("Corvane.log");
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2], "[Wed 2026-12-02 10:00:00] from a thread-local destructor");
}

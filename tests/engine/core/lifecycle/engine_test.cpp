#include "engine/core/lifecycle/engine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "common/log/log_file.h"
#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "engine/core/lifecycle/maintenance.h"
#include "engine/core/sessions/shared_slots.h"
#include "tests/engine/core/lifecycle/engine_tree.h"

using namespace corvane::lifecycle;
using corvane::testing::EngineTree;
namespace fs = corvane::platform;
namespace log = corvane::log;
namespace sessions = corvane::sessions;

namespace {

constexpr std::time_t wednesday = 1796205600;  // 2026-12-02 10:00:00 UTC

bool is_closed(int fd)
{
    return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

std::array<std::int32_t, 9> status(Engine& engine)
{
    std::array<std::int32_t, 9> out;
    out.fill(-1);
    engine.get_status(out.data());
    return out;
}

// Waits (boundedly) for a condition that the maintenance thread brings about.
template <typename F>
bool eventually(F condition)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    EngineTree m_tree;
    // The life cycle's own tests start without the client libraries.
    StartOptions m_bare{.libraries = Libraries::none};
};

}  // namespace

TEST_F(EngineTest, StartUpAndShutDownLogEveryStepInOrder)
{
    ASSERT_TRUE(m_tree.engine().start_up(m_bare));
    EXPECT_TRUE(m_tree.engine().running());
    ASSERT_TRUE(eventually([&] { return m_tree.log_contains("Maintenance thread starting..."); }));
    EXPECT_TRUE(m_tree.engine().shut_down());
    EXPECT_FALSE(m_tree.engine().running());

    std::vector<std::string> want = {
        "----- Corvane Pro 2.0.1 Log file starting -----",
        "Initializing Corvane...",
        "Initializing shared memory...",
        "Could not find Languages.ini!",
        "Loading LDAP DLL (WLDAP32.DLL)...",
        "Could not load LDAP DLL!",
        "Loading SpellCheck DLL...",
        "Could not load SpellCheck DLL!",
        "Could not load MimeTypes.cfg!",
        "Maintenance thread starting...",
        "Sending shutdown notice to maintenance thread.",
        "Waiting for maintenance thread to exit...",
        "Maintenance thread received shutdown notice.",
        "Maintenance thread exiting...",
        "Releasing shared memory...",
        "Releasing LDAP DLL...",
        "Releasing SpellCheck DLL...",
        "Corvane stopped.",
        "----- Corvane Pro 2.0.1 Log file stopping -----",
    };
    EXPECT_EQ(m_tree.log_lines(), want);
    EXPECT_EQ(m_tree.ini().text("Other", "LatestLogFile", ""), m_tree.path("Logs/Corvane.log"));
    EXPECT_EQ(m_tree.ini().text("Version", "Version", ""), "2.0.1");
    EXPECT_TRUE(fs::is_regular_file(m_tree.path("AddrBook.txt")));
    EXPECT_TRUE(fs::is_regular_file(m_tree.path("Dictionary.txt")));

    // The library can be started again in the same process.
    ASSERT_TRUE(m_tree.engine().start_up(m_bare));
    EXPECT_TRUE(m_tree.engine().shut_down());
    EXPECT_TRUE(m_tree.engine().shut_down()) << "a second ShutDown does nothing";
}

TEST_F(EngineTest, ThePartsItRunsWithLiveWhileItRuns)
{
    ASSERT_TRUE(fs::write_file_atomic(m_tree.path("Templates/languages.ini"), "[en]\n001=English\n"));
    ASSERT_TRUE(fs::write_file_atomic(m_tree.path("MimeTypes.cfg"), "text/html html\n"));
    ASSERT_TRUE(fs::write_file_atomic(m_tree.path("dictionary.txt"), "corvane\n"));
    Engine& engine = m_tree.engine();
    ASSERT_TRUE(engine.start_up());
    EXPECT_EQ(engine.mime_types().type_of("HTML"), "text/html");
    log::RequestLog buffer(&engine.log());
    EXPECT_EQ(engine.templates().language_string(0, "en", buffer), "English") << "Languages.ini found in any case";
    // The directory library is loaded when the machine has one.
    bool has_ldap = corvane::accounts::DirectoryLibrary::load().ok();
    EXPECT_EQ(engine.directory() != nullptr, has_ldap);
    EXPECT_FALSE(fs::exists(m_tree.path("Dictionary.txt"))) << "the file is found without regard to case";
    EXPECT_EQ(*fs::read_file(m_tree.path("dictionary.txt")), "corvane\n");
    buffer.flush();
    engine.shut_down();
    std::string log = m_tree.log_text();
    EXPECT_EQ(log.find("Could not find Languages.ini!"), std::string::npos);
    EXPECT_EQ(log.find("Could not load LDAP DLL!") == std::string::npos, has_ldap);
    EXPECT_NE(log.find("Could not load SpellCheck DLL!"), std::string::npos);
    EXPECT_EQ(log.find("Could not load MimeTypes.cfg!"), std::string::npos);
}

TEST_F(EngineTest, TempDirIsEmptiedButDotFoldersStay)
{
    ASSERT_TRUE(fs::write_file_atomic(m_tree.path("Temp/left.txt"), "x"));
    ASSERT_TRUE(fs::make_directories(m_tree.path("Temp/ABCDEFG/deeper")));
    ASSERT_TRUE(fs::write_file_atomic(m_tree.path("Temp/ABCDEFG/deeper/.body.txt"), "x"));
    ASSERT_TRUE(fs::make_directory(m_tree.path("Temp/.keep")));
    ASSERT_TRUE(fs::write_file_atomic(m_tree.path("Temp/.keep/inside"), "x"));
    ASSERT_TRUE(fs::write_file_atomic(m_tree.path("Temp/.dotfile"), "x"));
    ASSERT_TRUE(m_tree.engine().start_up());
    m_tree.engine().shut_down();
    auto left = fs::list_directory(m_tree.path("Temp"));
    ASSERT_TRUE(left);
    ASSERT_EQ(left->size(), 1u);
    EXPECT_EQ((*left)[0].name, ".keep");
    EXPECT_TRUE(fs::exists(m_tree.path("Temp/.keep/inside")));
}

TEST_F(EngineTest, ATempDirHoldingOtherDirectoriesIsNotEmptied)
{
    for (const std::string& temp : {m_tree.root(), fs::directory_of(m_tree.root()) + "/.", m_tree.path("Users/..")}) {
        SCOPED_TRACE(temp);
        ASSERT_TRUE(fs::write_file_atomic(m_tree.path("Users/precious"), "mail"));
        m_tree.set("Directories", "TempDir", temp);
        ASSERT_TRUE(m_tree.engine().start_up());
        m_tree.engine().shut_down();
        EXPECT_TRUE(fs::exists(m_tree.path("Users/precious")));
        EXPECT_TRUE(fs::exists(m_tree.path("Corvane.ini")));
        EXPECT_TRUE(m_tree.log_contains("Could not empty TempDir " + temp + ": it holds other directories"));
    }
    // A TempDir that is a file cannot be emptied either: logged, survived.
    ASSERT_TRUE(fs::write_file_atomic(m_tree.path("tempfile"), "x"));
    m_tree.set("Directories", "TempDir", m_tree.path("tempfile"));
    ASSERT_TRUE(m_tree.engine().start_up());
    m_tree.engine().shut_down();
    EXPECT_TRUE(m_tree.log_contains("Could not empty TempDir: "));
}

TEST_F(EngineTest, AnAbsentLogDirectoryIsSurvived)
{
    ASSERT_TRUE(fs::write_file_atomic(m_tree.path("blocker"), "x"));
    m_tree.set("Directories", "LogDir", m_tree.path("blocker/Logs"));
    ASSERT_TRUE(m_tree.engine().start_up());
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    m_tree.engine().main_entry(-1, pipe_fds[1], "QUERY_STRING=\0");
    EXPECT_TRUE(is_closed(pipe_fds[1]));
    ::close(pipe_fds[0]);
    EXPECT_TRUE(m_tree.engine().shut_down());
}

TEST_F(EngineTest, StatusRecordFollowsTheEngine)
{
    fs::ManualClock clock(wednesday);
    fs::ScopedClock scoped(clock);
    std::array<std::int32_t, 9> zero{};
    EXPECT_EQ(status(m_tree.engine()), zero) << "before StartUp";

    m_tree.set("Session", "Maximum", "2");
    ASSERT_TRUE(m_tree.engine().start_up());
    auto running = status(m_tree.engine());
    EXPECT_EQ(running[0], wednesday);
    EXPECT_EQ(running[3], 2);
    EXPECT_EQ(running[2], 0);
    EXPECT_EQ(m_tree.engine().slot_count(), 2u);

    // A session held through 60 deletion attempts counts as an engine error.
    log::RequestLog buffer(&m_tree.engine().log());
    auto hold = m_tree.engine().sessions().create("jsmith", "127.0.0.1", buffer);
    ASSERT_TRUE(hold);
    for (int i = 0; i < 60; ++i)
        m_tree.engine().sessions().delete_by_id(hold->id(), buffer);
    EXPECT_EQ(status(m_tree.engine())[2], 1);
    hold.release(&buffer);
    buffer.flush();

    m_tree.engine().shut_down();
    EXPECT_EQ(status(m_tree.engine()), zero) << "after ShutDown";

    // Maximum 0 still maps a slot, and refuses every session.
    m_tree.set("Session", "Maximum", "0");
    ASSERT_TRUE(m_tree.engine().start_up());
    EXPECT_FALSE(m_tree.engine().sessions().create("jsmith", "127.0.0.1", buffer));
    m_tree.engine().shut_down();
}

TEST_F(EngineTest, MainClosesBothDescriptorsOnEveryPath)
{
    Engine* engine = &m_tree.engine();
    auto call = [&engine](const char* environment, bool use_input) {
        int in[2], out[2];
        EXPECT_EQ(::pipe(in), 0);
        EXPECT_EQ(::pipe(out), 0);
        ::close(in[1]);
        engine->main_entry(use_input ? in[0] : -1, out[1], environment);
        EXPECT_TRUE(!use_input || is_closed(in[0])) << "input left open";
        EXPECT_TRUE(is_closed(out[1])) << "output left open";
        if (!use_input)
            ::close(in[0]);
        std::string written;
        char buffer[256];
        ssize_t n;
        while ((n = ::read(out[0], buffer, sizeof buffer)) > 0)
            written.append(buffer, static_cast<std::size_t>(n));
        ::close(out[0]);
        return written;
    };
    const char* environment = "QUERY_STRING=View=1\0remote_addr=10.0.0.1\0\0";

    EXPECT_EQ(call(environment, true), "") << "before StartUp";
    m_tree.engine().main_entry(-1, -1, nullptr);

    struct Echo final : RequestHandler {
        void handle(Request& request) override
        {
            if (request.environment.has("NOTHING"))
                throw std::runtime_error("a handler that fails");
            std::string text = "Content-type: text/plain\r\n\r\n" +
                               std::string(request.environment.get("query_string")) + " " +
                               std::string(request.environment.get("REMOTE_ADDR"));
            (void)::write(request.output.get(), text.data(), text.size());
        }
    };
    Engine echo(m_tree.config_path(), EngineModules{.handler = std::make_shared<Echo>()});
    engine = &echo;
    ASSERT_TRUE(echo.start_up(m_bare));
    EXPECT_EQ(call(environment, true), "Content-type: text/plain\r\n\r\nView=1 10.0.0.1");
    EXPECT_EQ(call("NOTHING=\0\0", true), "") << "a handler's failure still closes both";
    EXPECT_EQ(call(environment, false), "Content-type: text/plain\r\n\r\nView=1 10.0.0.1");
    echo.shut_down();
    EXPECT_EQ(call(environment, true), "") << "after ShutDown";

    engine = &m_tree.engine();
    ASSERT_TRUE(m_tree.engine().start_up(m_bare));
    EXPECT_EQ(call(environment, true), "") << "without a handler a request is accepted and closed";
    m_tree.engine().shut_down();
}

TEST_F(EngineTest, AFailedStartUpLeavesNothingBehind)
{
    // Another engine owns the shared memory.
    auto other = fs::SharedMemory::create_owned(sessions_segment_name(), 160);
    ASSERT_TRUE(other);
    EXPECT_FALSE(m_tree.engine().start_up());
    EXPECT_FALSE(m_tree.engine().running());
    EXPECT_TRUE(m_tree.log_contains("Could not create shared memory, error code 17\r\n"));
    std::string log = m_tree.log_text();
    EXPECT_NE(log.find("Log file stopping"), std::string::npos) << "the log is closed";

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    m_tree.engine().main_entry(fds[0], fds[1], "QUERY_STRING=\0\0");
    EXPECT_TRUE(is_closed(fds[0]) && is_closed(fds[1]));
    EXPECT_TRUE(m_tree.engine().shut_down());
    EXPECT_EQ(m_tree.log_text(), log) << "ShutDown after a failed StartUp writes nothing";

    other->reset();
    EXPECT_TRUE(m_tree.engine().start_up()) << "the next start succeeds";
    m_tree.engine().shut_down();
}

TEST_F(EngineTest, MaintenancePublishesSessionsAndCarriesOutKills)
{
    ASSERT_TRUE(m_tree.engine().start_up(StartOptions{std::chrono::milliseconds(20)}));
    log::RequestLog buffer(&m_tree.engine().log());
    auto first = m_tree.engine().sessions().create("anna", "127.0.0.1", buffer);
    auto second = m_tree.engine().sessions().create("bert", "10.9.8.7", buffer);
    ASSERT_TRUE(first && second);
    std::string first_id = first->id();
    std::string second_id = second->id();
    first.release();
    second.release();

    ASSERT_TRUE(eventually([&] { return status(m_tree.engine())[1] == 2; }));
    auto view = fs::SharedMemory::open_existing(sessions_segment_name(), fs::SharedMemory::Access::read_only);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->size(), 200 * sessions::slot_size);
    auto* slots = static_cast<const unsigned char*>(view->data());
    EXPECT_EQ(sessions::read_slot(slots).id, first_id);
    EXPECT_EQ(sessions::read_slot(slots + sessions::slot_size).user_name, "bert");

    EXPECT_EQ(m_tree.engine().kill_session(first_id.c_str()), 1);
    ASSERT_TRUE(eventually([&] { return !m_tree.engine().sessions().find_by_id(first_id); }));
    EXPECT_TRUE(eventually([&] { return status(m_tree.engine())[1] == 1; }));
    EXPECT_TRUE(m_tree.log_contains("Deleting session " + first_id + ".\r\n"));
    EXPECT_EQ(sessions::read_slot(slots).id, second_id) << "the next session moved up";

    // Unknown and hostile ids are logged and survived.
    EXPECT_EQ(m_tree.engine().kill_session("NOSUCHID"), 1);
    ASSERT_TRUE(eventually([&] { return m_tree.log_contains("Deleting session NOSUCHI."); }));
    ASSERT_TRUE(eventually([&] { return m_tree.engine().kill_session("AB\nC") == 1; }));
    ASSERT_TRUE(eventually([&] { return m_tree.log_contains("Deleting session AB C."); }));
    EXPECT_EQ(m_tree.engine().kill_session(nullptr), 1);
    EXPECT_TRUE(m_tree.engine().sessions().find_by_id(second_id));
    m_tree.engine().shut_down();
}

TEST_F(EngineTest, RotationIsPublishedInTheSettings)
{
    fs::ManualClock clock(wednesday);
    fs::ScopedClock scoped(clock);
    m_tree.set("General", "LogRotation", "daily");
    ASSERT_TRUE(m_tree.engine().start_up(StartOptions{std::chrono::milliseconds(20)}));
    EXPECT_EQ(m_tree.ini().text("Other", "LatestLogFile", ""), m_tree.path("Logs/CV20261202.log"));
    clock.advance(24 * 3600);
    EXPECT_TRUE(eventually(
        [&] { return m_tree.ini().text("Other", "LatestLogFile", "") == m_tree.path("Logs/CV20261203.log"); }));
    m_tree.engine().shut_down();
}

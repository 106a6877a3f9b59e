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

std::array<std::int32_t, 9> status()
{
    std::array<std::int32_t, 9> out;
    out.fill(-1);
    get_status(out.data());
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
    void TearDown() override
    {
        set_hooks({});
        set_request_handler(nullptr);
    }
    EngineTree m_tree;
};

}  // namespace

TEST_F(EngineTest, StartUpAndShutDownLogEveryStepInOrder)
{
    ASSERT_TRUE(start_up());
    EXPECT_TRUE(engine().running);
    ASSERT_TRUE(eventually([&] { return m_tree.log_contains("Maintenance thread starting..."); }));
    EXPECT_TRUE(shut_down());
    EXPECT_FALSE(engine().running);

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
    ASSERT_TRUE(start_up());
    EXPECT_TRUE(shut_down());
    EXPECT_TRUE(shut_down()) << "a second ShutDown does nothing";
}

TEST_F(EngineTest, ModulesFillTheirStartUpSteps)
{
    ASSERT_TRUE(fs::write_file_atomic(m_tree.path("Templates/languages.ini"), "[en]\n"));
    ASSERT_TRUE(fs::write_file_atomic(m_tree.path("MimeTypes.cfg"), "text/html html\n"));
    ASSERT_TRUE(fs::write_file_atomic(m_tree.path("dictionary.txt"), "corvane\n"));
    struct Record {
        std::string languages;
        bool store_alive = false;
        int ldap_unloads = 0;
    };
    auto record = std::make_shared<Record>();
    struct Store {
        explicit Store(std::shared_ptr<Record> r) : record(std::move(r)) { record->store_alive = true; }
        ~Store() { record->store_alive = false; }
        std::shared_ptr<Record> record;
    };
    EngineHooks hooks;
    hooks.verify_languages = [record](Engine&, const std::string& path) { record->languages = path; };
    hooks.create_template_store = [record](Engine&) { return std::make_shared<Store>(record); };
    hooks.load_directory_library = [](Engine&) { return true; };
    hooks.unload_directory_library = [record](Engine&) { ++record->ldap_unloads; };
    set_hooks(hooks);

    ASSERT_TRUE(start_up());
    EXPECT_EQ(record->languages, m_tree.path("Templates/languages.ini"));
    EXPECT_TRUE(record->store_alive);
    ASSERT_TRUE(engine().mime_types);
    EXPECT_EQ(engine().mime_types->type_of("HTML"), "text/html");
    EXPECT_FALSE(fs::exists(m_tree.path("Dictionary.txt"))) << "the file is found without regard to case";
    EXPECT_EQ(*fs::read_file(m_tree.path("dictionary.txt")), "corvane\n");
    shut_down();
    EXPECT_FALSE(record->store_alive);
    EXPECT_EQ(record->ldap_unloads, 1);
    std::string log = m_tree.log_text();
    EXPECT_EQ(log.find("Could not find Languages.ini!"), std::string::npos);
    EXPECT_EQ(log.find("Could not load LDAP DLL!"), std::string::npos);
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
    ASSERT_TRUE(start_up());
    shut_down();
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
        ASSERT_TRUE(start_up());
        shut_down();
        EXPECT_TRUE(fs::exists(m_tree.path("Users/precious")));
        EXPECT_TRUE(fs::exists(m_tree.path("Corvane.ini")));
        EXPECT_TRUE(m_tree.log_contains("Could not empty TempDir " + temp + ": it holds other directories"));
    }
    // A TempDir that is a file cannot be emptied either: logged, survived.
    ASSERT_TRUE(fs::write_file_atomic(m_tree.path("tempfile"), "x"));
    m_tree.set("Directories", "TempDir", m_tree.path("tempfile"));
    ASSERT_TRUE(start_up());
    shut_down();
    EXPECT_TRUE(m_tree.log_contains("Could not empty TempDir: "));
}

TEST_F(EngineTest, AnAbsentLogDirectoryIsSurvived)
{
    ASSERT_TRUE(fs::write_file_atomic(m_tree.path("blocker"), "x"));
    m_tree.set("Directories", "LogDir", m_tree.path("blocker/Logs"));
    ASSERT_TRUE(start_up());
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    main_entry(-1, pipe_fds[1], "QUERY_STRING=\0");
    EXPECT_TRUE(is_closed(pipe_fds[1]));
    ::close(pipe_fds[0]);
    EXPECT_TRUE(shut_down());
}

TEST_F(EngineTest, StatusRecordFollowsTheEngine)
{
    fs::ManualClock clock(wednesday);
    fs::ScopedClock scoped(clock);
    std::array<std::int32_t, 9> zero{};
    EXPECT_EQ(status(), zero) << "before StartUp";

    m_tree.set("Session", "Maximum", "2");
    ASSERT_TRUE(start_up());
    auto running = status();
    EXPECT_EQ(running[0], wednesday);
    EXPECT_EQ(running[3], 2);
    EXPECT_EQ(running[2], 0);
    EXPECT_EQ(engine().slot_count, 2u);

    // A session held through 60 deletion attempts counts as an engine error.
    log::RequestLog buffer(engine().log.get());
    auto hold = engine().sessions->create("jsmith", "127.0.0.1", buffer);
    ASSERT_TRUE(hold);
    for (int i = 0; i < 60; ++i)
        engine().sessions->delete_by_id(hold->id(), buffer);
    EXPECT_EQ(status()[2], 1);
    hold.release(&buffer);
    buffer.flush();

    shut_down();
    EXPECT_EQ(status(), zero) << "after ShutDown";

    // Maximum 0 still maps a slot, and refuses every session.
    m_tree.set("Session", "Maximum", "0");
    ASSERT_TRUE(start_up());
    EXPECT_FALSE(engine().sessions->create("jsmith", "127.0.0.1", buffer));
    shut_down();
}

TEST_F(EngineTest, MainClosesBothDescriptorsOnEveryPath)
{
    auto call = [](const char* environment, bool use_input) {
        int in[2], out[2];
        EXPECT_EQ(::pipe(in), 0);
        EXPECT_EQ(::pipe(out), 0);
        ::close(in[1]);
        main_entry(use_input ? in[0] : -1, out[1], environment);
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
    main_entry(-1, -1, nullptr);

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
    set_request_handler(std::make_shared<Echo>());
    ASSERT_TRUE(start_up());
    EXPECT_EQ(call(environment, true), "Content-type: text/plain\r\n\r\nView=1 10.0.0.1");
    EXPECT_EQ(call("NOTHING=\0\0", true), "") << "a handler's failure still closes both";
    EXPECT_EQ(call(environment, false), "Content-type: text/plain\r\n\r\nView=1 10.0.0.1");
    shut_down();
    EXPECT_EQ(call(environment, true), "") << "after ShutDown";

    set_request_handler(nullptr);
    ASSERT_TRUE(start_up());
    EXPECT_EQ(call(environment, true), "") << "the default handler accepts and closes";
    shut_down();
}

TEST_F(EngineTest, AFailedStartUpLeavesNothingBehind)
{
    // Another engine owns the shared memory.
    auto other = fs::SharedMemory::create_owned(sessions_segment_name(), 160);
    ASSERT_TRUE(other);
    EXPECT_FALSE(start_up());
    EXPECT_FALSE(engine().running);
    EXPECT_TRUE(m_tree.log_contains("Could not create shared memory, error code 17\r\n"));
    std::string log = m_tree.log_text();
    EXPECT_NE(log.find("Log file stopping"), std::string::npos) << "the log is closed";

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    main_entry(fds[0], fds[1], "QUERY_STRING=\0\0");
    EXPECT_TRUE(is_closed(fds[0]) && is_closed(fds[1]));
    EXPECT_TRUE(shut_down());
    EXPECT_EQ(m_tree.log_text(), log) << "ShutDown after a failed StartUp writes nothing";

    other->reset();
    EXPECT_TRUE(start_up()) << "the next start succeeds";
    shut_down();
}

TEST_F(EngineTest, MaintenancePublishesSessionsAndCarriesOutKills)
{
    ASSERT_TRUE(start_up(StartOptions{std::chrono::milliseconds(20)}));
    log::RequestLog buffer(engine().log.get());
    auto first = engine().sessions->create("anna", "127.0.0.1", buffer);
    auto second = engine().sessions->create("bert", "10.9.8.7", buffer);
    ASSERT_TRUE(first && second);
    std::string first_id = first->id();
    std::string second_id = second->id();
    first.release();
    second.release();

    ASSERT_TRUE(eventually([] { return status()[1] == 2; }));
    auto view = fs::SharedMemory::open_existing(sessions_segment_name(), fs::SharedMemory::Access::read_only);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->size(), 200 * sessions::slot_size);
    auto* slots = static_cast<const unsigned char*>(view->data());
    EXPECT_EQ(sessions::read_slot(slots).id, first_id);
    EXPECT_EQ(sessions::read_slot(slots + sessions::slot_size).user_name, "bert");

    EXPECT_EQ(kill_session(first_id.c_str()), 1);
    ASSERT_TRUE(eventually([&] { return !engine().sessions->find_by_id(first_id); }));
    EXPECT_TRUE(eventually([] { return status()[1] == 1; }));
    EXPECT_TRUE(m_tree.log_contains("Deleting session " + first_id + ".\r\n"));
    EXPECT_EQ(sessions::read_slot(slots).id, second_id) << "the next session moved up";

    // Unknown and hostile ids are logged and survived.
    EXPECT_EQ(kill_session("NOSUCHID"), 1);
    ASSERT_TRUE(eventually([&] { return m_tree.log_contains("Deleting session NOSUCHI."); }));
    ASSERT_TRUE(eventually([] { return kill_session("AB\nC") == 1; }));
    ASSERT_TRUE(eventually([&] { return m_tree.log_contains("Deleting session AB C."); }));
    EXPECT_EQ(kill_session(nullptr), 1);
    EXPECT_TRUE(engine().sessions->find_by_id(second_id));
    shut_down();
}

TEST_F(EngineTest, RotationIsPublishedInTheSettings)
{
    fs::ManualClock clock(wednesday);
    fs::ScopedClock scoped(clock);
    m_tree.set("General", "LogRotation", "daily");
    ASSERT_TRUE(start_up(StartOptions{std::chrono::milliseconds(20)}));
    EXPECT_EQ(m_tree.ini().text("Other", "LatestLogFile", ""), m_tree.path("Logs/CV20261202.log"));
    clock.advance(24 * 3600);
    EXPECT_TRUE(eventually(
        [&] { return m_tree.ini().text("Other", "LatestLogFile", "") == m_tree.path("Logs/CV20261203.log"); }));
    shut_down();
}

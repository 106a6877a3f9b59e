// The store after a crash at any moment of an action. A real user server
// hosting the engine (the list page's move, copy, delete, delete for good,
// and the Trash emptied at logout) and a process of the test's own for the
// actions no page reaches yet (mail arriving, a folder renamed or deleted, a
// session's expiry) are killed at random moments, many times. After each
// kill the store is loaded as the next session loads it; then Mailscan
// --check must find nothing wrong, every message that existed before the
// action (or that the worker reported stored) must be in a folder, and the
// flags of every message must be as they were.
//
// CORVANE_CRASH_RUNS sets the kills per action (default 8 over HTTP, 12 in
// the worker), CORVANE_CRASH_SEED the random seed a failure printed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "common/codec/password_codec.h"
#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/message_index/index_file.h"
#include "engine/store/user_mail/user_mail.h"
#include "tests/support/temp_dir.h"
#include "tests/webserver/server_harness.h"

extern char** environ;

namespace corvane::store {
namespace {

namespace fs = platform;
using Clock = std::chrono::steady_clock;
using testing::TempDir;

const std::vector<std::string> fixed_folders = {"Inbox", "Drafts", "Sent", "Trash"};

int runs_per_action(int fallback)
{
    const char* runs = std::getenv("CORVANE_CRASH_RUNS");
    return runs && std::atoi(runs) > 0 ? std::atoi(runs) : fallback;
}

// ---- the store -------------------------------------------------------------

struct Seeded {
    std::string subject;
    std::string folder;
    bool read = false;
};

// Messages.idx as it is on disk, by subject.
std::map<std::string, std::vector<MessageEntry>> entries_on_disk(const std::string& user_dir)
{
    std::map<std::string, std::vector<MessageEntry>> by_subject;
    auto text = fs::read_file(user_dir + "/Messages.idx");
    if (!text)
        return by_subject;
    IndexParser parser;
    std::size_t pos = 0;
    while (pos < text->size()) {
        std::size_t end = text->find('\n', pos);
        if (end == std::string::npos)
            end = text->size();
        parser.line(std::string_view(*text).substr(pos, end - pos));
        pos = end + 1;
    }
    for (const auto& entry : parser.entries())
        by_subject[entry->subject].push_back(*entry);
    return by_subject;
}

struct CheckRun {
    int code = -1;
    std::string out;
};

CheckRun mailscan_check(const std::string& user_dir)
{
    CheckRun run;
    std::string command = std::string(MAILSCAN_PROGRAM) + " --check '" + user_dir + "' 2>&1";
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            run.out.append(buffer, n);
        int status = ::pclose(pipe);
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}

// What the crash tests share: a seeded store copied afresh for every run,
// the random moments, and the verdict after each kill.
class CrashTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* seed = std::getenv("CORVANE_CRASH_SEED");
        m_seed = seed ? static_cast<unsigned>(std::strtoul(seed, nullptr, 10)) : std::random_device()();
        m_random.seed(m_seed);
        ASSERT_TRUE(fs::make_directories(m_root / "Users"));
        ASSERT_TRUE(fs::make_directories(m_root / "Logs"));
        ASSERT_TRUE(fs::make_directories(m_root / "Temp"));
        seed_template();
    }

    void TearDown() override
    {
        std::printf("[ crash    ] %s: %d runs, %d stopped in the middle, %d messages lost (seed %u)\n",
                    ::testing::UnitTest::GetInstance()->current_test_info()->name(), m_runs, m_cut, m_lost, m_seed);
    }

    std::string user_dir() const { return m_root / "Users/kim"; }

    // Inbox: 40 messages (every third with an attachment, every second
    // read) and 6 fetched as header only; Trash: 20; Projects: 12 and 4
    // header-only ones.
    void seed_template()
    {
        const std::string dir = m_template.path();
        ASSERT_TRUE(fs::write_file_atomic(dir + "/User.ini",
                                          "[User]\nPassword=-secret\nEmptyTrash=Yes\n"
                                          "[MailHost1]\nMailbox=Home\nDelete=1\n"
                                          "[Filters]\nFilter0=Y S C \"[project]\" \"Projects\"\n")
                        .ok());
        for (const char* folder : {"Inbox", "Drafts", "Sent", "Trash", "Work", "Projects"})
            ASSERT_TRUE(fs::make_directory(dir + "/" + folder));
        MessageIndex index;
        index.open(dir);
        int k = 0;
        auto add = [&](const std::string& folder, int count, int header_only) {
            for (int i = 0; i < count + header_only; ++i) {
                Seeded s{text::format("Seeded %d", ++k), folder, i % 2 == 0};
                MessageEntry* entry = nullptr;
                if (i < count) {
                    receiver::MessageReceiver receiver(index, folder, {});
                    receiver.begin(0, receiver::StoreMode::whole);
                    std::string message = "From: a@example.com\r\nSubject: " + s.subject +
                                          "\r\nDate: Tue, 15 Jun 1999 10:20:30 -0500\r\n";
                    if (i % 3 == 0)
                        message +=
                            "Content-Type: multipart/mixed; boundary=x\r\n\r\n--x\r\n\r\ntext\r\n--x\r\n"
                            "Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\niVBORw0KGgo=\r\n"
                            "--x--\r\n";
                    else
                        message += "\r\nbody\r\n";
                    receiver.write(message);
                    entry = receiver.finish();
                } else {
                    entry = &index.add_entry();
                    entry->number = index.next_number();
                    entry->file_name = text::format("CV%06u", entry->number);
                    entry->folder = folder;
                    entry->subject = s.subject;
                    entry->size = 5000;
                }
                ASSERT_NE(entry, nullptr);
                entry->server_id = text::format("uid-%d", k);
                entry->mailbox = "Home";
                entry->flags |= s.read ? flags::read : 0;
                m_seeded.push_back(s);
            }
        };
        add("Inbox", 40, 6);
        add("Trash", 20, 0);
        add("Projects", 12, 4);
        index.mark_dirty();
        ASSERT_TRUE(index.save());
    }

    void reset_store()
    {
        std::string command = "rm -rf '" + user_dir() + "' && cp -a '" + m_template.path() + "' '" + user_dir() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    std::vector<std::uint32_t> numbers_in(const std::string& folder)
    {
        std::vector<std::uint32_t> numbers;
        for (const auto& [subject, entries] : entries_on_disk(user_dir())) {
            for (const MessageEntry& e : entries) {
                if (e.folder == folder)
                    numbers.push_back(e.number);
            }
        }
        return numbers;
    }

    // A moment in [0, limit].
    std::chrono::microseconds moment(std::chrono::microseconds limit)
    {
        return std::chrono::microseconds(
            std::uniform_int_distribution<long long>(0, std::max<long long>(limit.count(), 1))(m_random));
    }

    // The store after the next load: Mailscan finds nothing, and every
    // message that must survive is in a folder with its flags.
    void verify(const std::string& what, const std::set<std::string>& may_go,
                const std::set<std::string>& also_kept = {})
    {
        ++m_runs;
        CheckRun check = mailscan_check(user_dir());
        EXPECT_EQ(check.code, 0) << what << ": " << check.out;
        auto on_disk = entries_on_disk(user_dir());
        auto reachable = [&](const std::string& subject, bool read) {
            auto found = on_disk.find(subject);
            if (found == on_disk.end())
                return false;
            bool any = false;
            for (const MessageEntry& e : found->second) {
                if (e.folder.empty())
                    continue;
                if (e.has(flags::downloaded) &&
                    !fs::exists(fs::join_path(fs::path_nocase(user_dir(), e.folder), e.file_name + ".msg")))
                    continue;
                any = true;
                EXPECT_EQ(e.has(flags::read), read) << what << ": the flags of " << subject << " changed";
            }
            return any;
        };
        for (const Seeded& s : m_seeded) {
            if (!may_go.count(s.folder) && !reachable(s.subject, s.read)) {
                ++m_lost;
                ADD_FAILURE() << what << ": " << s.subject << " (" << s.folder << ") was lost";
            }
        }
        for (const std::string& subject : also_kept) {
            if (!reachable(subject, false)) {
                ++m_lost;
                ADD_FAILURE() << what << ": " << subject << ", reported stored, was lost";
            }
        }
    }

    TempDir m_root;
    TempDir m_template;
    std::vector<Seeded> m_seeded;
    std::mt19937 m_random;
    unsigned m_seed = 0;
    int m_runs = 0;
    int m_cut = 0;  // kills that came before the action was done
    int m_lost = 0;
};

// ---- a process of the test's own -----------------------------------------------

class Process {
public:
    Process(const std::vector<std::string>& args, const std::vector<std::string>& extra_env, bool capture)
    {
        std::vector<std::string> env_strings;
        for (char** e = environ; *e; ++e)
            env_strings.emplace_back(*e);
        env_strings.insert(env_strings.end(), extra_env.begin(), extra_env.end());
        std::vector<char*> envp;
        for (auto& s : env_strings)
            envp.push_back(s.data());
        envp.push_back(nullptr);
        std::vector<std::string> arg_copy = args;
        std::vector<char*> argv;
        for (auto& a : arg_copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        int out[2] = {-1, -1};
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (capture && ::pipe(out) == 0) {
            ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
            ::posix_spawn_file_actions_addclose(&actions, out[0]);
        } else {
            ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        }
        ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        if (::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            m_pid = -1;
        ::posix_spawn_file_actions_destroy(&actions);
        if (out[1] >= 0)
            ::close(out[1]);
        m_out = out[0];
    }
    ~Process()
    {
        kill(SIGKILL);
        if (m_out >= 0)
            ::close(m_out);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return m_pid > 0; }

    // Sends the signal and waits for the end; the exit status.
    int kill(int signal)
    {
        if (m_pid <= 0)
            return m_status;
        ::kill(m_pid, signal);
        return wait();
    }
    int wait()
    {
        if (m_pid > 0) {
            ::waitpid(m_pid, &m_status, 0);
            m_pid = -1;
        }
        return m_status;
    }

    // Output up to the next line end; false at the end of the output.
    bool read_line(std::string& line)
    {
        line.clear();
        for (;;) {
            std::size_t nl = m_pending.find('\n');
            if (nl != std::string::npos) {
                line = m_pending.substr(0, nl);
                m_pending.erase(0, nl + 1);
                return true;
            }
            char buffer[4096];
            ssize_t n = m_out >= 0 ? ::read(m_out, buffer, sizeof buffer) : 0;
            if (n <= 0)
                return false;
            m_pending.append(buffer, static_cast<std::size_t>(n));
        }
    }

private:
    pid_t m_pid = -1;
    int m_status = -1;
    int m_out = -1;
    std::string m_pending;
};

// ---- over HTTP, against the real server -------------------------------------------

class ServerCrash : public CrashTest {
protected:
    void SetUp() override
    {
        CrashTest::SetUp();
        m_port = testing::free_port();
        std::string ini = text::format(
            "[General]\nRunAsService=No\nLogLevel=3\n"
            "[Directories]\nBaseDir=%s\nLogDir=%s\nTempDir=%s\nTemplateDir=%s\nUserDir=%s\n"
            "[WebServer]\nPort=%d\nBindAddress=127.0.0.1\nHtmlDir=%s\nCgiDir=%s\nCgiBase1=/Corvane\nCgiFile1=%s\n",
            m_root.path().c_str(), (m_root / "Logs").c_str(), (m_root / "Temp").c_str(), TEMPLATE_DIR,
            (m_root / "Users").c_str(), m_port, (m_root / "Temp").c_str(), (m_root / "Temp").c_str(), ENGINE_LIBRARY);
        ASSERT_TRUE(fs::write_file_atomic(m_root / "Corvane.ini", ini).ok());
        m_instance = text::format("crash%d", static_cast<int>(::getpid()));
    }

    void TearDown() override
    {
        m_server.reset();
        // The last server stopped in order and removed its shared memory;
        // a killed one's is reclaimed by the next start, which reused it.
        CrashTest::TearDown();
    }

    void start_server()
    {
        m_server = std::make_unique<Process>(
            std::vector<std::string>{CORVANE_PROGRAM},
            std::vector<std::string>{"CORVANE_INI=" + m_root / "Corvane.ini", "CORVANE_INSTANCE=" + m_instance}, false);
        ASSERT_TRUE(m_server->started());
        auto deadline = Clock::now() + std::chrono::seconds(20);
        for (;;) {
            int fd = testing::connect_to(m_port);
            if (fd >= 0) {
                ::close(fd);
                break;
            }
            ASSERT_LT(Clock::now(), deadline) << "the server did not start";
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    void stop_server() { m_server->kill(SIGTERM); }

    static std::string post(const std::string& body, const std::string& cookie)
    {
        return "POST /Corvane HTTP/1.0\r\nHost: 127.0.0.1\r\nUser-Agent: Test/1.0\r\n" +
               (cookie.empty() ? std::string() : "Cookie: " + cookie + "\r\n") +
               "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body;
    }

    // Logs kim on; the session id and the key cookie.
    void logon()
    {
        testing::HttpResponse page = testing::http(m_port, post("User=kim&Password=secret&View=Main", ""));
        std::size_t at = page.body.find("Session=");
        ASSERT_NE(at, std::string::npos) << page.raw.substr(0, 2000);
        m_session = page.body.substr(at + 8, 7);
        m_cookie.clear();
        for (const std::string& header : page.headers) {
            if (text::istarts_with(header, "Set-Cookie: CorvaneKey_"))
                m_cookie = header.substr(12, header.find(';') - 12);
        }
    }

    std::string numbers_field(const std::string& folder)
    {
        std::string field;
        for (std::uint32_t n : numbers_in(folder))
            field += "&Number=" + std::to_string(n);
        return field;
    }

    // The index is written last: the action is done when it changed.
    bool wait_for_index(const fs::FileIdentity& before, std::chrono::milliseconds limit)
    {
        auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            auto now = fs::identity_of(user_dir() + "/Messages.idx");
            if (now && !(*now == before))
                return true;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return false;
    }

    // The action of the form (on every message of numbers_of, when given),
    // run to its end once to learn how long it takes, then cut at random
    // moments of that time and a little past it.
    void crash(const std::string& what, const std::string& form, const std::string& numbers_of,
               const std::set<std::string>& may_go, int runs)
    {
        std::chrono::microseconds took{0};
        for (int run = -1; run < runs; ++run) {
            reset_store();
            start_server();
            logon();
            ASSERT_FALSE(m_session.empty());
            auto before = fs::identity_of(user_dir() + "/Messages.idx").value();
            std::string body = "Session=" + m_session + "&" + form;
            if (!numbers_of.empty())
                body += numbers_field(numbers_of);
            std::string request = post(body, m_cookie);
            auto start = Clock::now();
            std::thread client([&] { (void)testing::http(m_port, request); });
            if (run < 0) {
                // The measure: how long the action takes to its written index.
                ASSERT_TRUE(wait_for_index(before, std::chrono::seconds(20))) << what << " never wrote the index";
                took = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
                client.join();
                stop_server();
            } else {
                std::this_thread::sleep_for(moment(took + took / 3));
                m_server->kill(SIGKILL);
                client.join();
                auto after = fs::identity_of(user_dir() + "/Messages.idx");
                if (after && *after == before)
                    ++m_cut;
            }
            // The next session: StatusCheck loads the store and writes what
            // the load settled.
            start_server();
            testing::HttpResponse status =
                testing::http(m_port, "GET /Corvane?View=StatusCheck&User=kim&Password=secret HTTP/1.0\r\n\r\n");
            EXPECT_EQ(status.status, 200) << status.raw;
            stop_server();
            if (run >= 0)
                verify(text::format("%s, run %d", what.c_str(), run), may_go);
        }
    }

    std::unique_ptr<Process> m_server;
    int m_port = 0;
    std::string m_instance;
    std::string m_session;
    std::string m_cookie;
};

TEST_F(ServerCrash, ListActionsAndLogout)
{
    const int runs = runs_per_action(8);
    crash("move", "View=List&Folder=Inbox&Move=1&DestFolder=Work", "Inbox", {}, runs);
    crash("copy", "View=List&Folder=Inbox&Copy=1&DestFolder=Work", "Inbox", {}, runs);
    crash("delete", "View=List&Folder=Inbox&Delete=1", "Inbox", {}, runs);
    crash("delete for good", "View=List&Folder=Trash&Delete=1", "Trash", {"Trash"}, runs);
    crash("logout emptying the Trash", "View=Logout", "", {"Trash"}, runs);
}

// ---- in a worker process ----------------------------------------------------------

class WorkerCrash : public CrashTest {
protected:
    void SetUp() override
    {
        CrashTest::SetUp();
        ASSERT_TRUE(fs::write_file_atomic(m_root / "Corvane.ini", "[General]\nLogLevel=3\n").ok());
    }

    // The next session's load, as the engine does it, written back.
    void next_session()
    {
        ini::clear_cache();
        ini::Profile engine(m_root / "Corvane.ini");
        codec::PasswordCodec codec(m_root / "Corvane.key");
        UserMail mail(user_dir());
        (void)mail.load(fixed_folders, engine, codec);
        EXPECT_TRUE(mail.index().save());
    }

    void crash(const std::string& what, const std::vector<std::string>& args, const std::set<std::string>& may_go,
               int runs)
    {
        std::vector<std::string> argv = {CRASH_WORKER, args[0], user_dir()};
        argv.insert(argv.end(), args.begin() + 1, args.end());
        std::chrono::microseconds took{0};
        for (int run = -1; run < runs; ++run) {
            reset_store();
            Process worker(argv, {}, true);
            ASSERT_TRUE(worker.started());
            std::string line;
            ASSERT_TRUE(worker.read_line(line) && line == "go") << what << ": " << line;
            auto start = Clock::now();
            int status = 0;
            std::set<std::string> stored;
            if (run < 0) {
                while (worker.read_line(line)) {
                }
                status = worker.wait();
                took = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
                ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << what << " failed on its own";
            } else {
                std::this_thread::sleep_for(moment(took + took / 3));
                status = worker.kill(SIGKILL);
                if (WIFSIGNALED(status))
                    ++m_cut;
            }
            // Every message the worker had stored before it died.
            while (worker.read_line(line)) {
                if (line.rfind("stored ", 0) == 0)
                    stored.insert(line.substr(7));
            }
            next_session();
            if (run >= 0)
                verify(text::format("%s, run %d", what.c_str(), run), may_go, stored);
        }
    }
};

TEST_F(WorkerCrash, ArrivalFoldersAndExpiry)
{
    const int runs = runs_per_action(12);
    crash("mail arriving", {"receive", "120"}, {}, runs);
    crash("folder renamed", {"rename", "Projects", "Archive"}, {}, runs);
    crash("folder deleted", {"delete-folder", "Projects"}, {"Projects"}, runs);
    crash("session expired", {"expire"}, {"Trash"}, runs);
}

}  // namespace
}  // namespace corvane::store

// The store after a crash at any moment of an action. A real user server
// hosting the engine (the list page's move, copy, delete, delete for good,
// and the Trash emptied at logout) and a worker process (mail arriving, a
// folder renamed or deleted, a session's expiry: no page reaches these
// yet) are killed at random moments, many times. After each kill the store
// is loaded as the next session loads it; then Mailscan --check must find
// nothing, every message that existed before the action (or that the
// worker reported stored) must be in a folder with its file, and no
// message's flags may have changed.
//
// CORVANE_CRASH_RUNS sets the kills per action (default 8 over HTTP, 12 in
// the worker), CORVANE_CRASH_SEED the random seed a failure printed.
#include <gtest/gtest.h>
#include <signal.h>
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
#include "tests/support/child.h"
#include "tests/support/temp_dir.h"
#include "tests/webserver/server_harness.h"

namespace corvane::store {
namespace {

namespace fs = platform;
using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

int runs_per_action(int fallback)
{
    const char* runs = std::getenv("CORVANE_CRASH_RUNS");
    return runs && std::atoi(runs) > 0 ? std::atoi(runs) : fallback;
}

struct Seeded {
    std::string subject;
    std::string folder;
    bool read = false;
};

// Messages.idx as it is on disk, read without the engine's loader.
std::vector<MessageEntry> entries_on_disk(const std::string& user_dir)
{
    IndexParser parser;
    auto text = fs::read_file(user_dir + "/Messages.idx");
    for (std::size_t pos = 0; text && pos < text->size();) {
        std::size_t end = std::min(text->find('\n', pos), text->size());
        parser.line(std::string_view(*text).substr(pos, end - pos));
        pos = end + 1;
    }
    std::vector<MessageEntry> entries;
    for (const auto& entry : parser.entries())
        entries.push_back(*entry);
    return entries;
}

class CrashTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* seed = std::getenv("CORVANE_CRASH_SEED");
        m_seed = seed ? static_cast<unsigned>(std::strtoul(seed, nullptr, 10)) : std::random_device()();
        m_random.seed(m_seed);
        for (const char* dir : {"Users", "Logs", "Temp"})
            ASSERT_TRUE(fs::make_directory(m_root / dir));
        seed_template();
    }

    void TearDown() override
    {
        std::printf("[ crash    ] %s: %d runs, %d cut before the index was written, %d messages lost (seed %u)\n",
                    ::testing::UnitTest::GetInstance()->current_test_info()->name(), m_runs, m_cut, m_lost, m_seed);
    }

    std::string user_dir() const { return m_root / "Users/kim"; }

    // Inbox: 40 messages (every third with an attachment, every second
    // read) and 6 fetched as header only; Trash: 20; Projects: 12 and 4
    // header-only ones. All from the mailbox "Home".
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
        auto add = [&](const std::string& folder, int stored, int header_only) {
            for (int i = 0; i < stored + header_only; ++i) {
                Seeded s{text::format("Seeded %zu", m_seeded.size() + 1), folder, i % 2 == 0};
                MessageEntry* entry = nullptr;
                if (i < stored) {
                    receiver::MessageReceiver receiver(index, folder, {});
                    receiver.begin(0, receiver::StoreMode::whole);
                    receiver.write("From: a@example.com\r\nSubject: " + s.subject +
                                   "\r\nDate: Tue, 15 Jun 1999 10:20:30 -0500\r\n" +
                                   (i % 3 ? "\r\nbody\r\n"
                                          : "Content-Type: multipart/mixed; boundary=x\r\n\r\n--x\r\n\r\ntext\r\n"
                                            "--x\r\nContent-Type: image/png\r\n\r\niVBORw0KGgo=\r\n--x--\r\n"));
                    entry = receiver.finish();
                } else {
                    entry = &index.add_entry();
                    entry->number = index.next_number();
                    entry->file_name = text::format("CV%06u", entry->number);
                    entry->folder = folder;
                    entry->subject = s.subject;
                }
                entry->server_id = text::format("uid-%zu", m_seeded.size());
                entry->mailbox = "Home";
                entry->flags |= s.read ? flags::read : 0;
                m_seeded.push_back(s);
            }
        };
        add("Inbox", 40, 6);
        add("Trash", 20, 0);
        add("Projects", 12, 4);
        ASSERT_TRUE(index.save());
    }

    void reset_store()
    {
        std::string command = "rm -rf '" + user_dir() + "' && cp -a '" + m_template.path() + "' '" + user_dir() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    microseconds moment(microseconds limit)
    {
        return microseconds(std::uniform_int_distribution<long long>(0, limit.count() + 1)(m_random));
    }

    // After the next load: Mailscan finds nothing, and every message that
    // must survive is in a folder, with its file, its flags unchanged.
    void verify(const std::string& what, const std::set<std::string>& may_go, const std::set<std::string>& stored)
    {
        ++m_runs;
        testing::Child check({MAILSCAN_PROGRAM, "--check", user_dir()});
        std::string report = check.read_all();
        EXPECT_EQ(check.wait(), 0) << what << ": " << report;
        std::map<std::string, std::vector<MessageEntry>> by_subject;
        for (MessageEntry& entry : entries_on_disk(user_dir()))
            by_subject[entry.subject.str()].push_back(std::move(entry));
        auto reachable = [&](const std::string& subject, bool read) {
            bool any = false;
            for (const MessageEntry& e : by_subject[subject]) {
                if (e.folder.empty() || (e.has(flags::downloaded) && !fs::exists(fs::path_nocase(user_dir(), e.folder) +
                                                                                 "/" + e.file_name + ".msg")))
                    continue;
                any = true;
                EXPECT_EQ(e.has(flags::read), read) << what << ": the flags of " << subject << " changed";
            }
            if (!any) {
                ++m_lost;
                ADD_FAILURE() << what << ": " << subject << " was lost";
            }
        };
        for (const Seeded& s : m_seeded) {
            if (!may_go.count(s.folder))
                reachable(s.subject, s.read);
        }
        for (const std::string& subject : stored)
            reachable(subject, false);
    }

    testing::TempDir m_root;
    testing::TempDir m_template;
    std::vector<Seeded> m_seeded;
    std::mt19937 m_random;
    unsigned m_seed = 0;
    int m_runs = 0;
    int m_cut = 0;
    int m_lost = 0;
};

// ---- over HTTP, against the real server -------------------------------------------

class ServerCrash : public CrashTest {
protected:
    void SetUp() override
    {
        CrashTest::SetUp();
        m_port = testing::free_port();
        ASSERT_TRUE(
            fs::write_file_atomic(
                m_root / "Corvane.ini",
                text::format("[General]\nRunAsService=No\nLogLevel=3\n[Directories]\nBaseDir=%s\nLogDir=%s/Logs\n"
                             "TempDir=%s/Temp\nTemplateDir=%s\nUserDir=%s/Users\n[WebServer]\nPort=%d\n"
                             "BindAddress=127.0.0.1\nHtmlDir=%s/Temp\nCgiDir=%s/Temp\nCgiBase1=/Corvane\n"
                             "CgiFile1=%s\n",
                             m_root.path().c_str(), m_root.path().c_str(), m_root.path().c_str(), TEMPLATE_DIR,
                             m_root.path().c_str(), m_port, m_root.path().c_str(), m_root.path().c_str(),
                             ENGINE_LIBRARY))
                .ok());
        // One instance name for every start: each start after a kill
        // reclaims the shared memory the killed server left.
        ::setenv("CORVANE_INI", (m_root / "Corvane.ini").c_str(), 1);
        ::setenv("CORVANE_INSTANCE", text::format("crash%d", static_cast<int>(::getpid())).c_str(), 1);
    }

    void start_server()
    {
        m_server = std::make_unique<testing::Child>(std::vector<std::string>{CORVANE_PROGRAM});
        auto deadline = Clock::now() + std::chrono::seconds(20);
        int fd;
        while ((fd = testing::connect_to(m_port)) < 0) {
            ASSERT_LT(Clock::now(), deadline) << "the server did not start";
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::close(fd);
    }

    void stop_server(int signal)
    {
        ::kill(m_server->pid(), signal);
        m_server->wait();
    }

    static std::string post(const std::string& body, const std::string& cookie)
    {
        return "POST /Corvane HTTP/1.0\r\nCookie: " + cookie +
               "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body;
    }

    // The action of the form (on every message of numbers_of, when given),
    // run to its end once to learn how long it takes to the written index,
    // then cut at random moments of that time and a little past it.
    void crash(const std::string& what, const std::string& form, const std::string& numbers_of,
               const std::set<std::string>& may_go, int runs)
    {
        microseconds took{0};
        for (int run = -1; run < runs; ++run) {
            reset_store();
            start_server();
            testing::HttpResponse logon = testing::http(m_port, post("User=kim&Password=secret&View=Main", ""));
            std::size_t at = logon.body.find("Session=");
            ASSERT_NE(at, std::string::npos) << logon.raw.substr(0, 2000);
            std::string body = "Session=" + logon.body.substr(at + 8, 7) + "&" + form, cookie;
            for (const std::string& header : logon.headers) {
                if (text::istarts_with(header, "Set-Cookie: CorvaneKey_"))
                    cookie = header.substr(12, header.find(';') - 12);
            }
            for (const MessageEntry& e : entries_on_disk(user_dir())) {
                if (!numbers_of.empty() && e.folder == numbers_of)
                    body += "&Number=" + std::to_string(e.number);
            }
            const auto before = fs::identity_of(user_dir() + "/Messages.idx");
            auto index_written = [&] { return !(fs::identity_of(user_dir() + "/Messages.idx") == before); };
            auto start = Clock::now();
            std::thread client([&] { (void)testing::http(m_port, post(body, cookie)); });
            if (run < 0) {
                while (!index_written() && Clock::now() - start < std::chrono::seconds(20))
                    std::this_thread::sleep_for(microseconds(200));
                took = std::chrono::duration_cast<microseconds>(Clock::now() - start);
                client.join();
                ASSERT_TRUE(index_written()) << what << " never wrote the index";
                stop_server(SIGTERM);
            } else {
                std::this_thread::sleep_for(moment(took + took / 3));
                stop_server(SIGKILL);
                client.join();
                m_cut += !index_written();
            }
            // The next session: StatusCheck loads the store and writes what
            // the load settled.
            start_server();
            testing::HttpResponse status =
                testing::http(m_port, "GET /Corvane?View=StatusCheck&User=kim&Password=secret HTTP/1.0\r\n\r\n");
            EXPECT_EQ(status.status, 200) << status.raw;
            stop_server(SIGTERM);
            if (run >= 0)
                verify(text::format("%s, run %d", what.c_str(), run), may_go, {});
        }
    }

    std::unique_ptr<testing::Child> m_server;
    int m_port = 0;
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
    void crash(const std::string& what, std::vector<std::string> args, const std::set<std::string>& may_go, int runs)
    {
        args.insert(args.begin(), CRASH_WORKER);
        args.insert(args.begin() + 2, user_dir());
        microseconds took{0};
        for (int run = -1; run < runs; ++run) {
            reset_store();
            testing::Child worker(args);
            ASSERT_EQ(worker.read_line(), "go") << what;
            auto start = Clock::now();
            if (run < 0) {
                worker.read_all();
                ASSERT_EQ(worker.wait(), 0) << what << " failed on its own";
                took = std::chrono::duration_cast<microseconds>(Clock::now() - start);
            } else {
                std::this_thread::sleep_for(moment(took + took / 3));
                ::kill(worker.pid(), SIGKILL);
            }
            // Every message the worker had stored before it died.
            std::set<std::string> stored;
            for (std::string line; !(line = worker.read_line()).empty();) {
                if (line.rfind("stored ", 0) == 0)
                    stored.insert(line.substr(7));
            }
            m_cut += run >= 0 && worker.wait() != 0;
            // The next session's load, as the engine does it, written back.
            ini::clear_cache();
            codec::PasswordCodec codec(m_root / "Corvane.key");
            UserMail mail(user_dir());
            (void)mail.load({"Inbox", "Drafts", "Sent", "Trash"}, ini::Profile(m_root / "Corvane.ini"), codec);
            EXPECT_TRUE(mail.index().save());
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

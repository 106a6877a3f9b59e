// The mail check after a response, with an engine started in this process
// so that a view handler can ask for one (the views and the POP3 client
// are other modules): the client has its page before the check runs, and
// while it runs the session's List and Message requests get the redirect
// page at once instead of waiting for the request lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <regex>
#include <thread>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "engine/core/dispatch/dispatcher.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/views.h"
#include "engine/core/lifecycle/engine.h"
#include "engine/features/mailbox_actions/mailbox_actions.h"
#include "engine/features/not_available/not_available.h"
#include "tests/support/temp_dir.h"

namespace corvane::dispatch {
namespace {

namespace fs = corvane::platform;

// A gate the mail check waits at until the test opens it.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;
    int checks = 0;
};

class CheckingViews final : public ViewHandlers {
public:
    void run(RequestContext& request) override
    {
        if (request.view() == view_list && request.fields().present("Check")) {
            request.session()->retrieval_pending = true;
            request.retrieval_requested = true;
        }
    }
};

class WaitingMailCheck final : public MailCheck {
public:
    explicit WaitingMailCheck(Gate& gate) : m_gate(gate) {}
    void list_view(RequestContext&) override
    {
        std::unique_lock lock(m_gate.mutex);
        m_gate.entered = true;
        ++m_gate.checks;
        m_gate.changed.notify_all();
        m_gate.changed.wait(lock, [this] { return m_gate.open; });
    }
    void message_view(RequestContext&) override {}
    void status_check(RequestContext&) override {}

private:
    Gate& m_gate;
};

std::string call(lifecycle::Engine& engine, const std::string& query, const std::string& body,
                 const std::string& cookie)
{
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        return {};
    if (!body.empty() && ::write(in[1], body.data(), body.size()) < 0)
        return {};
    ::close(in[1]);
    std::string block;
    for (const auto& [name, value] :
         std::vector<std::pair<std::string, std::string>>{{"QUERY_STRING", query},
                                                          {"CONTENT_LENGTH", std::to_string(body.size())},
                                                          {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                                                          {"HTTP_COOKIE", cookie},
                                                          {"REMOTE_ADDR", "127.0.0.1"},
                                                          {"SCRIPT_NAME", "/cgi-bin/Corvane.so"}})
        block.append(name).append("=").append(value).push_back('\0');
    block.push_back('\0');
    // Main runs on its own thread; the response is complete when the
    // engine closes the pipe, which may be before Main returns.
    std::thread main(
        [&engine, block, input = in[0], output = out[1]] { engine.main_entry(input, output, block.c_str()); });
    main.detach();
    std::string response;
    char buffer[65536];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        response.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    return response;
}

class Retrieval : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("CORVANE_INSTANCE", ("retrieval" + std::to_string(::getpid())).c_str(), 1);
        std::string copy = "cp -r '" CORVANE_SOURCE_DIR "/templates' '" + root / "Templates" + "'";
        ASSERT_EQ(std::system(copy.c_str()), 0);
        ASSERT_TRUE(fs::write_file_atomic(root / "Templates/jsFrames/List-Redirect.html",
                                          "<html>Checking your mail: <$REDIRECTTIME$> <$LINK$></html>"));
        for (const char* dir : {"Logs", "Temp", "Users/alice"})
            ASSERT_TRUE(fs::make_directories(root / dir));
        ASSERT_TRUE(fs::write_file_atomic(root / "Users/alice/User.ini", "[User]\nPassword=-secret\n"));
        ini::Profile ini(root / "Corvane.ini");
        ASSERT_TRUE(ini.update([&](ini::Document& doc) {
            doc.set("Directories", "BaseDir", root.path());
            doc.set("Directories", "LogDir", root / "Logs");
            doc.set("Directories", "TempDir", root / "Temp");
            doc.set("Directories", "TemplateDir", root / "Templates");
            doc.set("Directories", "UserDir", root / "Users");
            doc.set("General", "RedirectWait", "7");
            return true;
        }));

        // The engine as the library wires it, with a view handler that asks
        // for a mail check and a mail check that waits at the gate.
        auto dispatcher = std::make_shared<Dispatcher>(RequestSteps{
            .mailbox = mailbox,
            .list_order = list_order,
            .views = views,
            .compose = compose,
            .mail_check = mail_check,
            .read_confirmation = read_confirmation,
            .new_user = new_user,
            .tags = tags,
        });
        engine =
            std::make_unique<lifecycle::Engine>(root / "Corvane.ini", lifecycle::EngineModules{.handler = dispatcher});
        ASSERT_TRUE(engine->start_up(lifecycle::StartOptions{.libraries = lifecycle::Libraries::none}));
    }

    void TearDown() override
    {
        {
            std::lock_guard lock(gate.mutex);
            gate.open = true;
        }
        gate.changed.notify_all();
        engine.reset();
    }

    std::string call(const std::string& query, const std::string& body, const std::string& cookie)
    {
        return dispatch::call(*engine, query, body, cookie);
    }

    testing::TempDir root;
    Gate gate;
    mailbox_actions::MailboxActions mailbox;
    not_available::ListOrder list_order;
    CheckingViews views;
    not_available::ComposeWork compose;
    WaitingMailCheck mail_check{gate};
    not_available::ReadConfirmation read_confirmation;
    not_available::NewUserHandler new_user;
    not_available::TagValues tags;
    std::unique_ptr<lifecycle::Engine> engine;
};

TEST_F(Retrieval, PageFirstThenTheCheckWhileOtherPagesRedirect)
{
    std::string page = call("View=Main", "User=alice&Password=secret", "");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(page, match, std::regex("Session=([A-Z]{7})")));
    std::string id = match[1];
    ASSERT_TRUE(std::regex_search(page, match, std::regex("(CorvaneKey_[A-Z]{7}=[0-9a-f]{32})")));
    std::string cookie = match[1];
    std::string session = "Session=" + id;

    // The whole redirect page arrives while the check is still waiting.
    std::string first = call(session + "&View=List&Check=1", "", cookie);
    EXPECT_NE(first.find("X-Content-Type-Options: nosniff\r\n"), std::string::npos);
    EXPECT_NE(first.find("Checking your mail: 7 /cgi-bin/Corvane.so?Session=" + id), std::string::npos) << first;
    {
        std::unique_lock lock(gate.mutex);
        ASSERT_TRUE(gate.changed.wait_for(lock, std::chrono::seconds(30), [&] { return gate.entered; }));
    }
    // The check holds the request lock; List is answered at once all the same.
    std::string waiting = call(session + "&View=List", "", cookie);
    EXPECT_NE(waiting.find("Checking your mail"), std::string::npos);
    // Other views wait for the lock, and see the list afterwards.
    auto options = std::async(std::launch::async, [&] { return call(session + "&View=Folders", "", cookie); });
    {
        std::lock_guard lock(gate.mutex);
        gate.open = true;
    }
    gate.changed.notify_all();
    EXPECT_NE(options.get().find("<h1 id=\"cv-title\">Folders</h1>"), std::string::npos) << "not the Folders page";

    std::string after = call(session + "&View=List", "", cookie);
    EXPECT_NE(after.find("There are no messages in this folder."), std::string::npos) << after;
    std::lock_guard lock(gate.mutex);
    EXPECT_EQ(gate.checks, 1);
}

}  // namespace
}  // namespace corvane::dispatch

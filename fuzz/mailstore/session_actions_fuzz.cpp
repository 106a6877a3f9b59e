// Requests of a logged-on session against a user with mail, through an
// engine started in this process and wired as Corvane.so wires it: the
// message index actions (mark, move, delete, copy, folder changes, the
// Message view's current message) with whatever fields and numbers the
// input carries.
//
// Input: a query line (sent after "Session=<id>&" with the session's key
// cookie; a line beginning with "!" is sent as it is, without a session), a
// line of further cookies, then the form body. Every request must end with
// both streams closed and no fault, and no file may appear outside the
// user's directory. The session and its mail are made afresh when an input
// ended the session, and every 256 inputs so the store stays small.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/core/dispatch/dispatcher.h"
#include "engine/core/dispatch/engine_accounts.h"
#include "engine/core/lifecycle/engine.h"
#include "engine/core/lifecycle/settings.h"
#include "engine/core/mailstore/engine_wiring.h"
#include "engine/core/templates/template_store.h"

namespace {

namespace fs = corvane::platform;
namespace lifecycle = corvane::lifecycle;

std::string g_root;
std::string g_session;
std::string g_key_cookie;
int g_uses = 0;

void remove_root()
{
    lifecycle::shut_down();
    if (!g_root.empty()) {
        std::string command = "rm -rf '" + g_root + "'";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "could not remove %s\n", g_root.c_str());
    }
}

// One request through Main; the response as the engine wrote it.
std::string request(const std::string& query, const std::string& cookie, const std::string& body)
{
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        __builtin_trap();
    if (!body.empty() && ::write(in[1], body.data(), body.size()) < 0)
        __builtin_trap();
    ::close(in[1]);
    std::string out_path = g_root + "/response";
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0)
        __builtin_trap();

    std::string block;
    auto add = [&block](const char* name, const std::string& value) {
        block.append(name).append("=").append(value.c_str()).push_back('\0');
    };
    add("QUERY_STRING", query);
    add("HTTP_COOKIE", cookie);
    add("CONTENT_LENGTH", std::to_string(body.size()));
    add("CONTENT_TYPE", "application/x-www-form-urlencoded");
    add("REMOTE_ADDR", "127.0.0.1");
    add("SCRIPT_NAME", "/Corvane");
    block.push_back('\0');
    lifecycle::main_entry(in[0], out, block.c_str());
    // Both descriptors belong to the engine, which must have closed them.
    if (::fcntl(in[0], F_GETFD) != -1 || ::fcntl(out, F_GETFD) != -1)
        __builtin_trap();
    auto response = fs::read_file(out_path);
    return response ? *response : std::string();
}

std::string record(const char* server_id, const char* mailbox, int number, const char* folder, int flags)
{
    std::string line;
    for (std::string field :
         {std::string(server_id), std::string(mailbox), std::string("bob@example.com"),
          std::string("carol@example.com"), std::string("Hello"), std::string("1700000000"), std::string("1000"),
          std::to_string(number), corvane::text::format("CV%06d", number), std::string(folder), std::to_string(flags)})
        line += field + '\x01';
    return line + "\r\n";
}

// alice's mail from scratch, and a new session for her.
void new_session()
{
    if (!g_session.empty())
        (void)request("Session=" + g_session + "&View=Logout", g_key_cookie, "");
    std::string user = g_root + "/Users/alice";
    std::string command = "rm -rf '" + user + "'";
    if (std::system(command.c_str()) != 0)
        __builtin_trap();
    (void)fs::make_directories(user + "/Work");
    (void)fs::write_file_atomic(user + "/User.ini", "[User]\nPassword=-secret\n[MailHost1]\nMailbox=Home\nDelete=1\n");
    std::string index = "100\n";
    const char* folders[] = {"Inbox", "Inbox", "Work", "Trash", "Inbox"};
    for (int i = 1; i <= 5; ++i) {
        index += record(i % 2 ? "uid" : "", "Home", i, folders[i - 1], 0x80 | (i == 2 ? 0x01 : 0));
        (void)fs::make_directories(user + "/" + folders[i - 1]);
        (void)fs::write_file_atomic(user + "/" + folders[i - 1] + corvane::text::format("/CV%06d.msg", i),
                                    "Subject: Hello\r\n\r\nbody\r\n");
    }
    index += record("gone", "Home", 6, "", 0x80);
    (void)fs::write_file_atomic(user + "/Messages.idx", index);

    std::string response = request("View=Main", "", "User=alice&Password=secret");
    std::size_t at = response.find("Session=");
    g_session = at == std::string::npos ? std::string() : response.substr(at + 8, 7);
    std::size_t cookie = response.find("Set-Cookie: CorvaneKey_");
    g_key_cookie = cookie == std::string::npos ? std::string()
                                               : response.substr(cookie + 12, response.find(';', cookie) - cookie - 12);
    if (g_session.empty() || g_key_cookie.empty())
        __builtin_trap();
    g_uses = 0;
}

bool start_engine()
{
    char pattern[] = "/tmp/corvane-fuzz-XXXXXX";
    if (!::mkdtemp(pattern))
        return false;
    g_root = pattern;
    std::string copy = "cp -r '" CORVANE_SOURCE_DIR "/templates' '" + g_root + "/Templates'";
    if (std::system(copy.c_str()) != 0)
        return false;
    for (const char* dir : {"Logs", "Temp", "Users"})
        (void)fs::make_directories(g_root + "/" + dir);
    corvane::ini::Profile ini(g_root + "/Corvane.ini");
    (void)ini.update([&](corvane::ini::Document& doc) {
        doc.set("Directories", "BaseDir", g_root);
        doc.set("Directories", "LogDir", g_root + "/Logs");
        doc.set("Directories", "TempDir", g_root + "/Temp");
        doc.set("Directories", "TemplateDir", g_root + "/Templates");
        doc.set("Directories", "UserDir", g_root + "/Users");
        doc.set("General", "LogLevel", "6");
        doc.set("Session", "Maximum", "20");
        return true;
    });
    ::setenv("CORVANE_INSTANCE", ("fuzz" + std::to_string(::getpid())).c_str(), 1);

    auto accounts = std::make_shared<corvane::dispatch::EngineAccounts>();
    lifecycle::EngineHooks hooks;
    hooks.create_template_store = [](lifecycle::Engine& engine) -> std::shared_ptr<void> {
        return std::make_shared<corvane::templates::TemplateStore>(
            lifecycle::text_setting(*engine.settings, "Directories", "TemplateDir"));
    };
    corvane::dispatch::LaterSteps steps;
    corvane::mailstore::install(accounts, hooks, steps);
    lifecycle::set_hooks(std::move(hooks));
    lifecycle::set_request_handler(std::make_shared<corvane::dispatch::Dispatcher>(accounts, std::move(steps)));
    lifecycle::set_config_path(g_root + "/Corvane.ini");
    if (!lifecycle::start_up())
        return false;
    std::atexit(remove_root);
    new_session();
    return true;
}

std::string_view next_line(std::string_view& rest)
{
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static bool running = start_engine();
    if (!running)
        __builtin_trap();
    if (++g_uses > 256 || !lifecycle::engine().sessions->find_by_id(g_session))
        new_session();

    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::string_view line = next_line(rest);
    std::string query = !line.empty() && line.front() == '!' ? std::string(line.substr(1))
                                                             : "Session=" + g_session + "&" + std::string(line);
    std::string cookie = g_key_cookie + "; " + std::string(next_line(rest));
    std::string body(rest.substr(0, 60000));  // stays within a pipe's buffer
    (void)request(query, cookie, body);

    // Nothing of the store reaches beside the users directory.
    auto listing = fs::list_directory(g_root + "/Users");
    if (!listing)
        __builtin_trap();
    for (const auto& entry : *listing) {
        if (entry.name != "alice")
            __builtin_trap();
    }
    return 0;
}

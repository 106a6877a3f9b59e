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
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/core/lifecycle/engine.h"
#include "fuzz/support/engine_in_process.h"

namespace {

namespace fs = corvane::platform;
namespace lifecycle = corvane::lifecycle;
using namespace corvane::fuzzing;

std::string g_session;
std::string g_key_cookie;
int g_uses = 0;

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
        (void)engine_request("Session=" + g_session + "&View=Logout", g_key_cookie, "");
    std::string user = engine_root() + "/Users/alice";
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

    std::string response = engine_request("View=Main", "", "User=alice&Password=secret");
    std::size_t at = response.find("Session=");
    g_session = at == std::string::npos ? std::string() : response.substr(at + 8, 7);
    std::size_t cookie = response.find("Set-Cookie: CorvaneKey_");
    g_key_cookie = cookie == std::string::npos ? std::string()
                                               : response.substr(cookie + 12, response.find(';', cookie) - cookie - 12);
    if (g_session.empty() || g_key_cookie.empty())
        __builtin_trap();
    g_uses = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool running = [] {
        if (!start_engine_in_process())
            return false;
        new_session();
        return true;
    }();
    if (!running)
        __builtin_trap();
    if (++g_uses > 256 || !engine().sessions().find_by_id(g_session))
        new_session();

    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::string_view line = next_line(rest);
    std::string query = !line.empty() && line.front() == '!' ? std::string(line.substr(1))
                                                             : "Session=" + g_session + "&" + std::string(line);
    std::string cookie = g_key_cookie + "; " + std::string(next_line(rest));
    std::string body(rest.substr(0, 60000));  // stays within a pipe's buffer
    (void)engine_request(query, cookie, body);

    // Nothing of the store reaches beside the users directory.
    auto listing = fs::list_directory(engine_root() + "/Users");
    if (!listing)
        __builtin_trap();
    for (const auto& entry : *listing) {
        if (entry.name != "alice")
            __builtin_trap();
    }
    return 0;
}

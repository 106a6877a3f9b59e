// How fast passwords can be guessed through Main, with the logon throttle
// at its shipped settings (Corvane.ini [LogonThrottle]).
//
// The engine runs in this process, wired as Corvane.so wires it, over a
// throw-away tree with the shipped templates. Two figures:
//
// 1. The curve. An attacker at one address sends wrong passwords for one
//    account at a steady rate (default 1,000 a second) for a while
//    (default 10 minutes) of simulated time: a manual clock moves one
//    second after each second's worth of requests, so the run takes
//    seconds, not minutes. Printed per interval: the attempts whose
//    password was checked ("accepted"), per second, and the total so far;
//    then the same for an attacker who sprays one guess at each of many
//    accounts, and the attempt at which the right password would first
//    have been taken.
// 2. The price of an answer, on the real clock: requests answered per
//    second on one thread while held off (no password is checked, nothing
//    waits), against logons that are checked.
//
// Usage: logon_throttle_bench [rate per second] [simulated seconds]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/ini/profile.h"
#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "engine/library/composition_root.h"

namespace {

namespace fs = corvane::platform;
using namespace corvane;

std::unique_ptr<library::CompositionRoot> composition;

std::string call(const std::string& body, const std::string& address)
{
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        return {};
    if (::write(in[1], body.data(), body.size()) < 0)
        return {};
    ::close(in[1]);
    std::string block;
    for (const auto& [name, value] :
         std::vector<std::pair<std::string, std::string>>{{"QUERY_STRING", "View=Main"},
                                                          {"REQUEST_METHOD", "POST"},
                                                          {"CONTENT_LENGTH", std::to_string(body.size())},
                                                          {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                                                          {"REMOTE_ADDR", address},
                                                          {"SCRIPT_NAME", "/Corvane"}})
        block.append(name).append("=").append(value).push_back('\0');
    block.push_back('\0');
    // A logon page is far below a pipe's capacity: Main can run here.
    composition->engine().main_entry(in[0], out[1], block.c_str());
    std::string response;
    char buffer[65536];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        response.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    return response;
}

enum class Outcome { checked, held_off, accepted };

Outcome logon(const std::string& user, const std::string& password, const std::string& address)
{
    std::string response = call("User=" + user + "&Password=" + password, address);
    if (response.find("Set-Cookie: CorvaneKey_") != std::string::npos)
        return Outcome::accepted;
    if (response.find("Retry-After: ") != std::string::npos)
        return Outcome::held_off;
    return Outcome::checked;
}

bool start(const std::string& root)
{
    std::string copy = "cp -r '" CORVANE_SOURCE_DIR "/templates' '" + root + "/Templates'";
    if (std::system(copy.c_str()) != 0)
        return false;
    for (const char* dir : {"Logs", "Temp", "Users"})
        (void)fs::make_directories(root + "/" + dir);
    for (int i = 0; i < 1000; ++i) {
        std::string dir = root + "/Users/user" + std::to_string(i);
        (void)fs::make_directories(dir);
        (void)fs::write_file_atomic(dir + "/User.ini", "[User]\nPassword=-secret\n");
    }
    ini::Profile ini(root + "/Corvane.ini");
    (void)ini.update([&](ini::Document& doc) {
        doc.set("Directories", "BaseDir", root);
        doc.set("Directories", "LogDir", root + "/Logs");
        doc.set("Directories", "TempDir", root + "/Temp");
        doc.set("Directories", "TemplateDir", root + "/Templates");
        doc.set("Directories", "UserDir", root + "/Users");
        doc.set("General", "LogLevel", "4");
        return true;
    });
    composition = std::make_unique<library::CompositionRoot>(root + "/Corvane.ini");
    return composition->engine().start_up(lifecycle::StartOptions{.libraries = lifecycle::Libraries::none});
}

// Interval ends in simulated seconds: finer at the start, where the
// throttle changes fastest.
std::vector<long> interval_ends(long seconds)
{
    std::vector<long> ends;
    for (long end : {1L, 2L, 5L, 10L, 30L, 60L, 120L, 300L, 600L, 1200L, 1800L, 3600L}) {
        if (end < seconds)
            ends.push_back(end);
    }
    ends.push_back(seconds);
    return ends;
}

// One attacker at one address; user_for(i) names the account of the i-th
// attempt. Prints the curve; returns the checked attempts.
long curve(const char* title, long rate, long seconds, fs::ManualClock& clock, const std::string& address,
           std::string (*user_for)(long))
{
    std::printf("\n%s (%ld attempts a second for %ld s)\n", title, rate, seconds);
    std::printf("  %-14s %12s %14s %12s\n", "seconds", "checked", "checked/s", "total");
    long total = 0;
    long attempt = 0;
    long second = 0;
    for (long end : interval_ends(seconds)) {
        long checked = 0;
        long begin = second;
        for (; second < end; ++second) {
            for (long i = 0; i < rate; ++i, ++attempt) {
                if (logon(user_for(attempt), "guess" + std::to_string(attempt), address) == Outcome::checked)
                    ++checked;
            }
            clock.advance(1);
        }
        total += checked;
        std::printf("  %5ld - %-6ld %12ld %14.2f %12ld\n", begin, end, checked,
                    static_cast<double>(checked) / static_cast<double>(end - begin), total);
    }
    return total;
}

std::string one_account(long)
{
    return "user0";
}

std::string many_accounts(long attempt)
{
    return "user" + std::to_string(attempt % 1000);
}

// Wrong passwords for about two seconds: from one address that is held
// off, or each from an address of its own, so that every one is checked.
double answers_per_second(bool held_off)
{
    auto begin = std::chrono::steady_clock::now();
    long n = 0;
    for (;; ++n) {
        std::string address = held_off ? std::string("10.0.0.10")
                                       : "10.1." + std::to_string(n / 256 % 256) + "." + std::to_string(n % 256);
        (void)logon("user1", "wrong", address);
        auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (elapsed >= 2.0)
            return static_cast<double>(n + 1) / elapsed;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    long rate = argc > 1 ? std::atol(argv[1]) : 1000;
    long seconds = argc > 2 ? std::atol(argv[2]) : 600;
    if (rate < 1 || seconds < 1)
        return 2;
    auto make_root = [] {
        std::string pattern = "/tmp/corvane-throttle-XXXXXX";
        return ::mkdtemp(pattern.data()) ? pattern : std::string();
    };
    std::string root = make_root();
    if (root.empty())
        return 1;

    {
        fs::ManualClock clock(1796205600);
        fs::ScopedClock use(clock);
        if (!start(root)) {
            std::fprintf(stderr, "the engine did not start\n");
            return 1;
        }
        std::printf("Logon guessing through Main, [LogonThrottle] at its shipped settings\n");
        long checked = curve("One account from one address", rate, seconds, clock, "10.0.0.7", one_account);
        std::printf("  attempts: %ld, checked: %ld (%.3f%%)\n", rate * seconds, checked,
                    100.0 * static_cast<double>(checked) / static_cast<double>(rate * seconds));
        curve("Many accounts from one address", rate, seconds, clock, "10.0.0.8", many_accounts);

        // The right password as the 5,003rd attempt: taken only once the
        // current wait is over.
        long tried = 5002;
        for (long i = 0; i < tried; ++i)
            (void)logon("user2", "wrong", "10.0.0.9");
        long waited = 0;
        while (logon("user2", "secret", "10.0.0.9") != Outcome::accepted && waited < 3600) {
            clock.advance(1);
            ++waited;
        }
        std::printf("\nThe right password after %ld wrong ones in a burst: taken after %ld s of waiting\n", tried,
                    waited);
        composition.reset();
    }

    // The real clock: what an answer costs while held off.
    (void)std::system(("rm -rf '" + root + "'").c_str());
    root = make_root();
    if (root.empty())
        return 1;
    if (!start(root))
        return 1;
    for (int i = 0; i < 30; ++i)
        (void)logon("user1", "wrong", "10.0.0.10");
    double held = answers_per_second(true);
    double checked = answers_per_second(false);
    std::printf(
        "\nAnswers on one thread, real clock: held off %.0f/s (%.1f us each), checked wrong passwords "
        "%.0f/s (%.1f us each)\n",
        held, 1e6 / held, checked, 1e6 / checked);
    composition.reset();
    (void)std::system(("rm -rf '" + root + "'").c_str());
    return 0;
}

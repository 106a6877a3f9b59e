// The dispatcher's latency as a web server sees it, through Corvane.so's
// Main with real pipes and the shipped templates:
// - a logon (form body, password check, the old session of the user ended,
//   a new one made, cookies) ending on the frame set;
// - a request of an existing session for the small message list page.
// Each runs on 1 and on 8 threads (one user per thread); the counters give
// the median and the 99th percentile of one request in microseconds (per
// thread, averaged over the threads).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "common/platform/files.h"
#include "tests/support/engine_host.h"

namespace {

namespace fs = corvane::platform;
using corvane::testing::EngineHost;

constexpr int max_threads = 8;

EngineHost& host()
{
    static std::unique_ptr<EngineHost> instance = [] {
        EngineHost::Options options;
        options.templates_from = std::string(CORVANE_SOURCE_DIR) + "/templates";
        options.settings = {{"General", "LogLevel", "4"}, {"Session", "Maximum", "400"}};
        auto h = std::make_unique<EngineHost>(options);
        for (int i = 0; i < max_threads; ++i) {
            std::string dir = h->users_dir() + "/user" + std::to_string(i);
            (void)fs::make_directories(dir);
            (void)fs::write_file_atomic(dir + "/User.ini", "[User]\nPassword=-secret\n");
        }
        if (!h->start())
            std::fprintf(stderr, "the engine did not start\n");
        return h;
    }();
    return *instance;
}

// One Main call with the body on a pipe; the whole response.
std::string call(const std::string& query, const std::string& body, const std::string& cookie)
{
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        return {};
    // Bodies and pages here are far below a pipe's capacity.
    if (!body.empty() && ::write(in[1], body.data(), body.size()) < 0)
        return {};
    ::close(in[1]);
    std::string environment = EngineHost::environment_block({
        {"QUERY_STRING", query},
        {"CONTENT_LENGTH", std::to_string(body.size())},
        {"CONTENT_TYPE", body.empty() ? "" : "application/x-www-form-urlencoded"},
        {"HTTP_COOKIE", cookie},
        {"REMOTE_ADDR", "127.0.0.1"},
        {"SCRIPT_NAME", "/cgi-bin/Corvane.so"},
    });
    host().call_main(in[0], out[1], environment);
    std::string response;
    char buffer[65536];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        response.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    return response;
}

struct Session {
    std::string id;
    std::string cookie;
};

Session logon(const std::string& user)
{
    std::string response = call("View=Main", "User=" + user + "&Password=secret", "");
    Session session;
    std::smatch match;
    if (std::regex_search(response, match, std::regex("Session=([A-Z]{7})")))
        session.id = match[1];
    if (std::regex_search(response, match, std::regex("(CorvaneKey_[A-Z]{7}=[0-9a-f]+)")))
        session.cookie = match[1];
    return session;
}

void report(benchmark::State& state, std::vector<double>& micros)
{
    if (micros.empty())
        return;
    std::sort(micros.begin(), micros.end());
    auto at = [&](double q) {
        return micros[std::min(micros.size() - 1, static_cast<std::size_t>(q * micros.size()))];
    };
    state.counters["median_us"] = benchmark::Counter(at(0.50), benchmark::Counter::kAvgThreads);
    state.counters["p99_us"] = benchmark::Counter(at(0.99), benchmark::Counter::kAvgThreads);
}

template <typename Fn>
double timed(Fn&& fn)
{
    auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}

void BM_LogonToMainPage(benchmark::State& state)
{
    host();
    std::string body = "User=user" + std::to_string(state.thread_index()) + "&Password=secret&View=List";
    std::vector<double> micros;
    for (auto _ : state) {
        micros.push_back(timed([&] {
            std::string page = call("View=Main", body, "");
            if (page.find("<iframe") == std::string::npos)
                state.SkipWithError("the logon did not reach the frame set");
        }));
    }
    report(state, micros);
}
BENCHMARK(BM_LogonToMainPage)->Threads(1)->Threads(8)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_SessionListPage(benchmark::State& state)
{
    host();
    Session session = logon("user" + std::to_string(state.thread_index()));
    std::string query = "Session=" + session.id + "&View=List";
    std::vector<double> micros;
    for (auto _ : state) {
        micros.push_back(timed([&] {
            std::string page = call(query, "", session.cookie);
            if (page.find("There are no messages") == std::string::npos)
                state.SkipWithError("the session's page did not come");
        }));
    }
    report(state, micros);
}
BENCHMARK(BM_SessionListPage)->Threads(1)->Threads(8)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

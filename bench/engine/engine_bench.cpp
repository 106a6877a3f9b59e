// The engine's costs as a web server sees them:
// - Main: one request that does nothing, through Corvane.so with real pipes
//   (as the web server calls it) and with no descriptors at all;
// - sessions: create + find + release (+ the end of the session) from 1 and
//   8 threads;
// - resident memory of 200 live sessions.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/ini/profile.h"
#include "common/log/log_file.h"
#include "common/platform/files.h"
#include "engine/core/lifecycle/engine.h"
#include "tests/support/engine_host.h"

namespace {

namespace fs = corvane::platform;
namespace lifecycle = corvane::lifecycle;

corvane::testing::EngineHost& library_host()
{
    static std::unique_ptr<corvane::testing::EngineHost> host = [] {
        corvane::testing::EngineHost::Options options;
        options.settings = {{"General", "LogLevel", "4"}};
        auto h = std::make_unique<corvane::testing::EngineHost>(options);
        if (!h->start())
            std::fprintf(stderr, "the engine did not start\n");
        return h;
    }();
    return *host;
}

void BM_MainRoundTripThroughPipes(benchmark::State& state)
{
    auto& host = library_host();
    corvane::testing::EngineRequest request;
    request.query_string = "View=1";
    for (auto _ : state) {
        auto response = host.request(request);
        benchmark::DoNotOptimize(response.main_result);
    }
}
BENCHMARK(BM_MainRoundTripThroughPipes)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_MainCallWithoutDescriptors(benchmark::State& state)
{
    auto& host = library_host();
    std::string environment = corvane::testing::EngineHost::environment_block(
        {{"QUERY_STRING", "View=1"}, {"REMOTE_ADDR", "127.0.0.1"}, {"SCRIPT_NAME", "/cgi-bin/Corvane.so"}});
    for (auto _ : state)
        benchmark::DoNotOptimize(host.call_main(-1, -1, environment));
}
BENCHMARK(BM_MainCallWithoutDescriptors)->Unit(benchmark::kMicrosecond);

// An engine started inside this process, for direct use of its sessions.
struct InProcessEngine {
    InProcessEngine()
    {
        char pattern[] = "/tmp/corvane-bench-XXXXXX";
        root = ::mkdtemp(pattern);
        for (const char* dir : {"Logs", "Temp", "Templates", "Users"})
            (void)fs::make_directory(root + "/" + dir);
        corvane::ini::Profile ini(root + "/Corvane.ini");
        (void)ini.update([&](corvane::ini::Document& doc) {
            doc.set("Directories", "BaseDir", root);
            doc.set("Directories", "LogDir", root + "/Logs");
            doc.set("Directories", "TempDir", root + "/Temp");
            doc.set("Directories", "TemplateDir", root + "/Templates");
            doc.set("Directories", "UserDir", root + "/Users");
            doc.set("General", "LogLevel", "4");
            doc.set("Session", "Maximum", "400");
            return true;
        });
        std::string instance = "bench" + std::to_string(::getpid());
        ::setenv("CORVANE_INSTANCE", instance.c_str(), 1);
        engine = std::make_unique<lifecycle::Engine>(root + "/Corvane.ini");
        started = engine->start_up(lifecycle::StartOptions{.libraries = lifecycle::Libraries::none});
    }
    ~InProcessEngine()
    {
        engine.reset();
        (void)fs::remove_tree(root);
    }
    std::string root;
    std::unique_ptr<lifecycle::Engine> engine;
    bool started = false;
};

InProcessEngine& in_process()
{
    static InProcessEngine engine;
    return engine;
}

// create + find + release, as a logon and the requests after it do; the
// sessions are ended outside the timed part, twenty at a time.
void BM_SessionCreateFindRelease(benchmark::State& state)
{
    if (!in_process().started) {
        state.SkipWithError("the engine did not start");
        return;
    }
    auto& table = in_process().engine->sessions();
    corvane::log::RequestLog log(&in_process().engine->log());
    std::string user = "bench" + std::to_string(state.thread_index());
    std::vector<std::string> ids;
    auto end_all = [&] {
        for (const auto& id : ids)
            table.find_by_id(id).kill(&log);
        ids.clear();
    };
    for (auto _ : state) {
        auto created = table.create(user, "127.0.0.1", log);
        auto found = table.find_by_id(created->id());
        found.release(&log);
        ids.push_back(created->id());
        created.release(&log);
        if (ids.size() == 20) {
            state.PauseTiming();
            end_all();
            state.ResumeTiming();
        }
    }
    end_all();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SessionCreateFindRelease)->Threads(1)->Threads(8)->UseRealTime();

// The whole life of a session: create, find, release, and its end (the
// request lock, the mail work of the user record, its directory removed).
void BM_SessionWholeLife(benchmark::State& state)
{
    if (!in_process().started) {
        state.SkipWithError("the engine did not start");
        return;
    }
    auto& table = in_process().engine->sessions();
    corvane::log::RequestLog log(&in_process().engine->log());
    std::string user = "life" + std::to_string(state.thread_index());
    for (auto _ : state) {
        auto created = table.create(user, "127.0.0.1", log);
        auto found = table.find_by_id(created->id());
        found.release(&log);
        created.kill(&log);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SessionWholeLife)->Threads(1)->Threads(8)->UseRealTime();

void BM_SessionFindRelease(benchmark::State& state)
{
    if (!in_process().started) {
        state.SkipWithError("the engine did not start");
        return;
    }
    auto& table = in_process().engine->sessions();
    corvane::log::RequestLog log(&in_process().engine->log());
    auto held = table.create("finder" + std::to_string(state.thread_index()), "127.0.0.1", log);
    std::string id = held->id();
    for (auto _ : state) {
        auto found = table.find_by_id(id);
        found.release(&log);
    }
    state.SetItemsProcessed(state.iterations());
    held.kill(&log);
}
BENCHMARK(BM_SessionFindRelease)->Threads(1)->Threads(8)->UseRealTime();

long resident_kb()
{
    auto statm = fs::read_file("/proc/self/statm");
    long pages = 0, resident = 0;
    if (!statm || std::sscanf(statm->c_str(), "%ld %ld", &pages, &resident) != 2)
        return 0;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Resident memory of the process with the engine and 200 live sessions, and
// the heap the sessions take (the resident size moves in whole pages and
// keeps what the heap held before).
void BM_ResidentMemoryOf200Sessions(benchmark::State& state)
{
    if (!in_process().started) {
        state.SkipWithError("the engine did not start");
        return;
    }
    auto& table = in_process().engine->sessions();
    corvane::log::RequestLog log(&in_process().engine->log());
    long before = 0, after = 0;
    double heap = 0;
    for (auto _ : state) {
        before = resident_kb();
        std::size_t heap_before = ::mallinfo2().uordblks;
        std::vector<corvane::sessions::SessionHold> holds;
        for (int i = 0; i < 200; ++i) {
            holds.push_back(table.create("resident" + std::to_string(i), "127.0.0.1", log));
            holds.back().give_back();
        }
        heap = static_cast<double>(::mallinfo2().uordblks) - static_cast<double>(heap_before);
        after = resident_kb();
        for (int i = 0; i < 200; ++i)
            table.find_by_user("resident" + std::to_string(i)).kill(&log);
    }
    state.counters["rss_kB"] = static_cast<double>(after);
    state.counters["rss_growth_kB"] = static_cast<double>(after - before);
    state.counters["heap_per_session_B"] = heap / 200.0;
}
BENCHMARK(BM_ResidentMemoryOf200Sessions)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

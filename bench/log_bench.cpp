// Lines per second through request log buffers into one log file, with
// 1 and 8 threads, at threshold 2 (lines collected, one block per request).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "common/log/log_file.h"
#include "common/platform/files.h"

namespace {

corvane::log::LogFile& shared_log()
{
    static std::unique_ptr<corvane::log::LogFile> log = [] {
        char dir_template[] = "/tmp/corvane-log-bench-XXXXXX";
        corvane::log::LogSettings settings;
        settings.directory = ::mkdtemp(dir_template);
        settings.threshold = 2;
        return std::make_unique<corvane::log::LogFile>(settings);
    }();
    return *log;
}

// One "request": 10 lines, as a typical request of the engine writes.
void BM_RequestBlocks(benchmark::State& state)
{
    auto& log = shared_log();
    for (auto _ : state) {
        corvane::log::RequestLog request(&log);
        request.set_session("ABCDEFG");
        request.line(corvane::log::Level::routine, "BegRequest: View=%d %s", 3,
                     "Session=ABCDEFG&View=List&Folder=Inbox");
        for (int i = 0; i < 8; ++i)
            request.line(corvane::log::Level::routine, "Step %d of the request for %s", i, "someone@example.org");
        request.line(corvane::log::Level::detail, "A detail below the threshold");
        request.line(corvane::log::Level::routine, "EndRequest: View=%d %s", 3,
                     "Session=ABCDEFG&View=List&Folder=Inbox");
    }
    state.SetItemsProcessed(state.iterations() * 10);  // lines offered (9 written)
}
BENCHMARK(BM_RequestBlocks)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

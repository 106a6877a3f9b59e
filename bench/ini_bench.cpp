// INI reads: one key of a 300-key file, from the cache and right after
// another process replaced the file.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/ini/profile.h"
#include "common/platform/files.h"

namespace {

std::string make_file()
{
    char dir_template[] = "/tmp/corvane-ini-bench-XXXXXX";
    std::string dir = ::mkdtemp(dir_template);
    std::string path = dir + "/Corvane.ini";
    std::string data;
    for (int s = 0; s < 10; ++s) {
        data += "[Section" + std::to_string(s) + "]\n";
        for (int k = 0; k < 30; ++k)
            data += "Key" + std::to_string(k) + "=value number " + std::to_string(s * 30 + k) + "\n";
    }
    (void)corvane::platform::write_file_atomic(path, data);
    return path;
}

void BM_CachedRead(benchmark::State& state)
{
    static const std::string path = make_file();
    corvane::ini::Profile profile(path);
    for (auto _ : state)
        benchmark::DoNotOptimize(profile.text("Section7", "Key21", "none"));
}
BENCHMARK(BM_CachedRead);

void BM_CachedNumber(benchmark::State& state)
{
    static const std::string path = make_file();
    corvane::ini::Profile profile(path);
    (void)profile.write_number("General", "LogLevel", 3);
    for (auto _ : state)
        benchmark::DoNotOptimize(profile.number("General", "LogLevel", 1));
}
BENCHMARK(BM_CachedNumber);

// Each iteration: another process rewrites the file (outside the timing),
// then we read one key, which must notice and parse the new file.
void BM_ReadAfterForeignWrite(benchmark::State& state)
{
    static const std::string path = make_file();
    int to_child[2], from_child[2];
    if (::pipe(to_child) != 0 || ::pipe(from_child) != 0)
        return;
    pid_t child = ::fork();
    if (child == 0) {
        ::close(to_child[1]);
        ::close(from_child[0]);
        corvane::ini::clear_cache();
        corvane::ini::Profile writer(path);
        char c;
        int round = 0;
        while (::read(to_child[0], &c, 1) == 1) {
            c = writer.write_number("Section9", "Counter", ++round) ? 'y' : 'n';
            if (::write(from_child[1], &c, 1) != 1)
                break;
        }
        ::_exit(0);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    corvane::ini::Profile profile(path);
    for (auto _ : state) {
        state.PauseTiming();
        char c = 'w';
        if (::write(to_child[1], &c, 1) != 1 || ::read(from_child[0], &c, 1) != 1 || c != 'y')
            state.SkipWithError("writer failed");
        state.ResumeTiming();
        benchmark::DoNotOptimize(profile.text("Section7", "Key21", "none"));
    }
    ::close(to_child[1]);
    ::close(from_child[0]);
    ::waitpid(child, nullptr, 0);
}
BENCHMARK(BM_ReadAfterForeignWrite)->Iterations(1000);

void BM_Write(benchmark::State& state)
{
    static const std::string path = make_file();
    corvane::ini::Profile profile(path);
    int i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(profile.write_number("Stats", "Counter", ++i));
}
BENCHMARK(BM_Write)->Iterations(300);

void BM_Parse300Keys(benchmark::State& state)
{
    static const std::string path = make_file();
    std::string data = *corvane::platform::read_file(path);
    for (auto _ : state)
        benchmark::DoNotOptimize(corvane::ini::Document::parse(data));
}
BENCHMARK(BM_Parse300Keys);

}  // namespace

BENCHMARK_MAIN();

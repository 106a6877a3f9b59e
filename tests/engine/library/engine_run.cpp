// A second engine process for the tests: starts Corvane.so from a tree of
// its own on a given shared-memory instance.
//
// engine_run start <instance>   StartUp, print the log, ShutDown; exit 0 when started
// engine_run hold <instance>    StartUp, print "running", wait to be killed
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/support/engine_host.h"

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    std::string command = argv[1];
    corvane::testing::EngineHost::Options options;
    options.instance = argv[2];
    corvane::testing::EngineHost host(options);
    bool started = host.start();
    if (command == "hold") {
        std::printf("%s\n", started ? "running" : "failed");
        std::fflush(stdout);
        for (;;)
            ::pause();
    }
    host.shut_down();
    for (const auto& line : host.log_lines())
        std::printf("%s\n", line.c_str());
    return started ? 0 : 1;
}

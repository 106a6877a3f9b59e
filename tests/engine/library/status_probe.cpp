// A separate process that looks at a running engine the way the
// administration program does: it loads Corvane.so without starting it,
// calls CVGetStatus and CVKillSession, and reads the session slots straight
// from shared memory by their byte offsets.
//
// status_probe <Corvane.so> status            nine counters
// status_probe <Corvane.so> slots <n>         one line per slot, fields by "|"
// status_probe <Corvane.so> kill <id>...      the result of each call
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/platform/dynamic_library.h"

namespace {

std::string text_at(const unsigned char* p, std::size_t size)
{
    std::size_t n = 0;
    while (n < size && p[n])
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

int print_slots(int count)
{
    const char* instance = std::getenv("CORVANE_INSTANCE");
    std::string name = std::string("/Corvane Sessions") + (instance && *instance ? "." + std::string(instance) : "");
    int fd = ::shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0) {
        std::printf("no segment %s\n", name.c_str());
        return 1;
    }
    struct stat st {};
    ::fstat(fd, &st);
    void* map = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED)
        return 1;
    std::printf("size %lld\n", static_cast<long long>(st.st_size));
    for (int i = 0; i < count && static_cast<off_t>((i + 1) * 160) <= st.st_size; ++i) {
        const unsigned char* slot = static_cast<const unsigned char*>(map) + i * 160;
        std::int32_t last_access = 0;
        std::memcpy(&last_access, slot + 12, 4);
        std::printf("%s|%d.%d.%d.%d|%d|%s|%s|%s\n", text_at(slot, 8).c_str(), slot[8], slot[9], slot[10], slot[11],
                    last_access, text_at(slot + 16, 16).c_str(), text_at(slot + 32, 64).c_str(),
                    text_at(slot + 96, 64).c_str());
    }
    ::munmap(map, static_cast<std::size_t>(st.st_size));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    auto library = corvane::platform::DynamicLibrary::open(argv[1]);
    if (!library) {
        std::printf("cannot load %s\n", argv[1]);
        return 1;
    }
    std::string command = argv[2];
    if (command == "status") {
        auto get = library->function<void (*)(void*)>("CVGetStatus");
        std::int32_t counters[9];
        std::memset(counters, 0xff, sizeof counters);
        get(counters);
        for (std::int32_t c : counters)
            std::printf("%d ", c);
        std::printf("\n");
        return 0;
    }
    if (command == "slots" && argc > 3)
        return print_slots(std::atoi(argv[3]));
    if (command == "kill") {
        auto kill = library->function<int (*)(const char*)>("CVKillSession");
        for (int i = 3; i < argc; ++i)
            std::printf("%d\n", kill(argv[i]));
        return 0;
    }
    return 2;
}

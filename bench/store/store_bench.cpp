// Figures for the message store, printed as plain lines:
//
//   receiver   a 50 MB stream of real messages (Python's email test corpus,
//              repeated, lines ended by CR LF) stored into a user
//              directory, in MB/s, against `wc -l` over the same bytes
//   hostile    each hostile message of the store's tests: seconds and peak
//              resident memory
//   index      Messages.idx of 100,000 entries: save and load in
//              milliseconds, resident memory of the loaded index
//
// Run from a release build: build/<dir>/bench/store/store_bench
#include <malloc.h>
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/message_index/message_index.h"
#include "engine/store/receiver/message_receiver.h"

using namespace corvane;
namespace fs = platform;

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Resident memory now and at its peak (kB), from /proc/self/status.
long status_kb(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(std::string(key).size()));
    }
    return -1;
}
void reset_peak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::string make_temp_dir(const std::string& parent = "/tmp")
{
    std::string pattern = parent + "/corvane-bench-XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : "";
}

std::vector<std::string> corpus_messages()
{
    std::vector<std::string> messages;
    const std::string dir = "/usr/lib/python3.11/test/test_email/data";
    if (auto listing = fs::list_directory(dir)) {
        for (const auto& e : *listing) {
            if (e.name.rfind("msg_", 0) != 0)
                continue;
            auto data = fs::read_file(dir + "/" + e.name);
            if (!data)
                continue;
            std::string crlf;
            for (char c : *data) {
                if (c == '\n')
                    crlf += '\r';
                crlf += c;
            }
            messages.push_back(std::move(crlf));
        }
    }
    if (messages.empty()) {
        std::fprintf(stderr, "no corpus found; using a synthetic message\n");
        messages.push_back(
            "From: a@x\r\nSubject: s\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
            "Content-Type: text/plain\r\n\r\n" +
            std::string(60, 'x') + "\r\n--b--\r\n");
    }
    return messages;
}

void store_message(store::MessageIndex& index, const receiver::ReceiverOptions& options, std::string_view message)
{
    receiver::MessageReceiver receiver(index, "Inbox", options);
    receiver.begin(static_cast<std::uint32_t>(message.size()), receiver::StoreMode::whole);
    // As a network hands it over: in pieces.
    for (std::size_t pos = 0; pos < message.size(); pos += 16384)
        receiver.write(message.substr(pos, 16384));
    receiver.finish();
}

void bench_receiver(std::size_t megabytes, const std::string& parent)
{
    std::vector<std::string> messages = corpus_messages();
    const std::size_t target = megabytes << 20;
    std::vector<const std::string*> stream;
    std::size_t total = 0;
    while (total < target) {
        for (const std::string& m : messages) {
            stream.push_back(&m);
            total += m.size();
        }
    }
    std::string user_dir = make_temp_dir(parent);
    (void)fs::make_directory(user_dir + "/Inbox");
    mime_types::MimeTypeTable types;
    types.add_text("text/plain txt\ntext/html htm html\nimage/gif gif\napplication/octet-stream bin\n");
    receiver::ReceiverOptions options;
    options.types = &types;

    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        store::MessageIndex index;
        index.open(user_dir);
        auto start = Clock::now();
        for (const std::string* m : stream)
            store_message(index, options, *m);
        best = std::min(best, seconds_since(start));
        (void)index.empty_folder("Inbox");
    }

    // The same bytes through wc -l.
    std::string file = user_dir + "/stream.txt";
    {
        std::ofstream out(file, std::ios::binary);
        for (const std::string* m : stream)
            out << *m;
    }
    double wc_best = 1e9;
    for (int round = 0; round < 3; ++round) {
        auto start = Clock::now();
        std::string command = "wc -l < '" + file + "' > /dev/null";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "wc failed\n");
        wc_best = std::min(wc_best, seconds_since(start));
    }
    double mb = static_cast<double>(total) / (1024.0 * 1024.0);
    std::printf("receiver: %zu messages, %.1f MB stored under %s in %.3f s: %.1f MB/s (%.0f messages/s)\n",
                stream.size(), mb, parent.c_str(), best, mb / best, static_cast<double>(stream.size()) / best);
    std::printf("wc -l:    the same %.1f MB in %.3f s: %.1f MB/s; receiver/wc ratio %.3f\n", mb, wc_best, mb / wc_best,
                wc_best / best);
    (void)fs::remove_tree(user_dir);
}

// One hostile message in a child process, so its peak memory is its own.
void bench_hostile(const char* name, const std::string& message)
{
    std::fflush(stdout);
    pid_t child = ::fork();
    if (child == 0) {
        std::string user_dir = make_temp_dir();
        (void)fs::make_directory(user_dir + "/Inbox");
        receiver::ReceiverOptions options;
        store::MessageIndex index;
        index.open(user_dir);
        ::malloc_trim(0);
        long before = status_kb("VmRSS:");
        reset_peak();
        auto start = Clock::now();
        store_message(index, options, message);
        store::MessageEntry& entry = *index.entries().back();
        entry.parts.reset();
        (void)fs::remove_file(index.part_list_path(entry));
        std::size_t parts = receiver::part_list(index, entry, options).size();
        double took = seconds_since(start);
        long peak = status_kb("VmHWM:");
        std::printf("hostile:  %-28s %6.1f MB  %.3f s  peak RSS %ld MB (+%ld MB)  %zu parts\n", name,
                    static_cast<double>(message.size()) / (1 << 20), took, peak / 1024, (peak - before) / 1024, parts);
        std::fflush(stdout);
        (void)fs::remove_tree(user_dir);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

void bench_hostile_messages()
{
    std::string flat = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (int i = 0; i < 100000; ++i)
        flat += "--b\r\nContent-Type: text/plain\r\n\r\npart\r\n";
    flat += "--b--\r\n";
    bench_hostile("100,000 parts", flat);

    std::string nested = "Content-Type: multipart/mixed; boundary=n00000\r\n\r\n";
    for (int i = 0; i < 10000; ++i)
        nested += text::format("--n%05d\r\nContent-Type: multipart/mixed; boundary=n%05d\r\n\r\n", i, i + 1);
    for (int i = 10000; i >= 0; --i)
        nested += text::format("--n%05d--\r\n", i);
    bench_hostile("10,000 nested multiparts", nested);

    bench_hostile("10 MB header line", "Subject: " + std::string(10u << 20, 's') + "\r\n\r\nbody\r\n");
    std::string folded = "Subject: start\r\n";
    for (int i = 0; i < 200000; ++i)
        folded += " =?utf-8?B?w6k=?= folded line\r\n";
    folded += "\r\nbody\r\n";
    bench_hostile("200,000 folded header lines", folded);

    std::string long_lines = "Content-Type: application/octet-stream\r\n\r\n";
    for (int i = 0; i < 20; ++i)
        long_lines += std::string(1u << 20, 'L') + "\r\n";
    bench_hostile("20 lines of 1 MB", long_lines);

    std::string headless;
    for (int i = 0; i < 100000; ++i)
        headless += "no header at all, just text without an empty line\r\n";
    bench_hostile("no header, no empty line", headless);

    std::string boundary(200, 'q');
    std::string garbage = "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n--" + boundary +
                          "\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    for (int i = 0; i < 100000; ++i)
        garbage += std::string("!@#$%^&*()\0\0garbage====", 24) + "\r\n";
    garbage += "--" + boundary + "--\r\n";
    bench_hostile("base64 garbage, NUL bytes", garbage);
}

void bench_index()
{
    std::string user_dir = make_temp_dir();
    const int folders = 10;
    for (int f = 0; f < folders; ++f)
        (void)fs::make_directory(text::format("%s/Folder%d", user_dir.c_str(), f));
    const std::uint32_t count = 100000;
    {
        store::MessageIndex index;
        index.open(user_dir);
        for (std::uint32_t i = 0; i < count; ++i) {
            store::MessageEntry& e = index.add_entry();
            e.number = index.next_number();
            e.file_name = text::format("CV%06u", e.number);
            e.folder = text::format("Folder%u", i % folders);
            e.server_id = text::format("1234567890abcdef%08u", i);
            e.mailbox = "Home";
            e.from = text::format("Sender Number %u <sender%u@example.com>", i, i);
            e.to = "Jo Smith <jo@example.com>";
            e.subject = text::format("Re: a subject of ordinary length, message %u", i);
            e.date = 900000000 + i;
            e.size = 4000 + i;
            e.flags = store::flags::downloaded | store::flags::read;
            // The load checks that each downloaded message still has its file.
            (void)fs::touch_file(index.message_path(e));
        }
        reset_peak();
        long before = status_kb("VmRSS:");
        auto start = Clock::now();
        bool saved = index.save();
        double took = seconds_since(start);
        std::printf("index:    save %u entries: %.1f ms (%s, %.1f MB file), peak RSS +%ld MB\n", count, took * 1000,
                    saved ? "ok" : "FAILED", static_cast<double>(fs::file_size(user_dir + "/Messages.idx")) / (1 << 20),
                    (status_kb("VmHWM:") - before) / 1024);
    }
    // Loading in a fresh process, so that its memory is the index's own.
    std::fflush(stdout);
    pid_t child = ::fork();
    if (child == 0) {
        ::malloc_trim(0);  // what the index of the parent left behind
        long before = status_kb("VmRSS:");
        reset_peak();
        auto start = Clock::now();
        store::MessageIndex index;
        index.open(user_dir);
        double took = seconds_since(start);
        long after = status_kb("VmRSS:");
        std::printf("index:    load %zu entries: %.1f ms, resident +%ld MB (peak +%ld MB)\n", index.size(), took * 1000,
                    (after - before) / 1024, (status_kb("VmHWM:") - before) / 1024);
        start = Clock::now();
        index.mark_dirty();
        (void)index.save();
        std::printf("index:    save of the loaded index: %.1f ms\n", seconds_since(start) * 1000);
        std::fflush(stdout);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    (void)fs::remove_tree(user_dir);
}

}  // namespace

// store_bench [MB of the receiver's stream, default 50]
int main(int argc, char** argv)
{
    std::size_t megabytes = argc > 1 ? static_cast<std::size_t>(std::max(1L, std::atol(argv[1]))) : 50;
    // On the disk, and in memory (tmpfs), where only our own work counts.
    bench_receiver(megabytes, "/tmp");
    if (fs::is_directory("/dev/shm"))
        bench_receiver(megabytes, "/dev/shm");
    std::fflush(stdout);
    bench_hostile_messages();
    bench_index();
    return 0;
}

// Figures for the message store, printed as plain lines:
//
//   receiver   a 50 MB stream of real messages (Python's email test corpus,
//              repeated, lines ended by CR LF) stored into a user
//              directory, in MB/s, against `wc -l` over the same bytes
//   hostile    each hostile message of the store's tests: seconds and peak
//              resident memory
//   index      Messages.idx of 100,000 entries: save and load in
//              milliseconds, resident memory of the loaded index
//   small      small messages stored one by one on tmpfs: microseconds per
//              message, against the floor of one file made and renamed
//              into its folder per message
//   calls      the system calls behind one small message, counted by
//              strace (when installed) for the receiver and for the floor
//
// Run from a release build: build/<dir>/bench/store/store_bench [part] [n]
// (no part: all of them; n is the receiver's MB or the count of small
// messages).
#include <fcntl.h>
#include <malloc.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
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

void load_index(const std::string& user_dir)
{
    long before = status_kb("VmRSS:");
    reset_peak();
    auto start = Clock::now();
    std::clock_t cpu_start = std::clock();
    store::MessageIndex index;
    index.open(user_dir);
    double took = seconds_since(start);
    double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    long after = status_kb("VmRSS:");
    // On a busy machine the processor time is the steadier figure.
    std::printf(
        "index:    load %zu entries: %.1f ms (processor time %.1f ms), resident +%ld MB (peak +%ld MB), "
        "%s\n",
        index.size(), took * 1000, cpu * 1000, (after - before) / 1024, (status_kb("VmHWM:") - before) / 1024,
        index.dirty() ? "changed" : "unchanged");
    start = Clock::now();
    index.mark_dirty();
    (void)index.save();
    std::printf("index:    save of the loaded index: %.1f ms\n", seconds_since(start) * 1000);
    std::fflush(stdout);
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
    // Loading in a freshly started process (not a fork, whose heap and
    // copy-on-write pages are the parent's), so that its memory and time
    // are the index's own.
    std::fflush(stdout);
    pid_t child = ::fork();
    if (child == 0) {
        const char* args[] = {"store_bench", "index-load", user_dir.c_str(), nullptr};
        ::execv("/proc/self/exe", const_cast<char* const*>(args));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    (void)fs::remove_tree(user_dir);
}

// A small message as mail clients send it: a dozen header lines, a short
// text body.
std::string small_message(std::uint32_t i)
{
    std::string m = text::format(
        "Return-Path: <sender%u@example.com>\r\nReceived: from mail.example.com by mx.example.net; "
        "Tue, 15 Jun 1999 10:20:30 -0500\r\nMessage-ID: <%u.bench@example.com>\r\n"
        "Date: Tue, 15 Jun 1999 10:20:30 -0500\r\nFrom: Sender %u <sender%u@example.com>\r\n"
        "To: Jo Smith <jo@example.com>\r\nSubject: A short note, number %u\r\nMIME-Version: 1.0\r\n"
        "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n",
        i, i, i, i, i);
    for (int line = 0; line < 12; ++line)
        m += "Some ordinary text of an ordinary message, about sixty bytes long.\r\n";
    return m;
}

// The receiver storing count small messages; microseconds per message.
double store_small(const std::string& user_dir, std::uint32_t count)
{
    std::vector<std::string> messages;
    for (std::uint32_t i = 0; i < count; ++i)
        messages.push_back(small_message(i));
    receiver::ReceiverOptions options;
    store::MessageIndex index;
    index.open(user_dir);
    auto start = Clock::now();
    for (const std::string& m : messages)
        store_message(index, options, m);
    return count ? seconds_since(start) * 1e6 / count : 0;
}

// The receiver storing count messages of the corpus (a third of them with
// parts).
double store_corpus(const std::string& user_dir, std::uint32_t count)
{
    std::vector<std::string> corpus = corpus_messages();
    mime_types::MimeTypeTable types;
    types.add_text("text/plain txt\ntext/html htm html\nimage/gif gif\napplication/octet-stream bin\n");
    receiver::ReceiverOptions options;
    options.types = &types;
    store::MessageIndex index;
    index.open(user_dir);
    auto start = Clock::now();
    for (std::uint32_t i = 0; i < count; ++i)
        store_message(index, options, corpus[i % corpus.size()]);
    return count ? seconds_since(start) * 1e6 / count : 0;
}

// The floor: per message one file made beside the folder, written, closed
// and renamed into it, which any store that never shows a partial message
// must do.
double store_floor(const std::string& user_dir, std::uint32_t count)
{
    std::vector<std::string> messages;
    for (std::uint32_t i = 0; i < count; ++i)
        messages.push_back(small_message(i));
    auto start = Clock::now();
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string temp = text::format("%s/.CV%06u.incoming", user_dir.c_str(), i + 1);
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 || ::write(fd, messages[i].data(), messages[i].size()) < 0 || ::close(fd) != 0 ||
            ::rename(temp.c_str(), text::format("%s/Inbox/CV%06u.msg", user_dir.c_str(), i + 1).c_str()) != 0) {
            std::fprintf(stderr, "floor: cannot write %s\n", temp.c_str());
            return 0;
        }
    }
    return count ? seconds_since(start) * 1e6 / count : 0;
}

using StoreWork = double (*)(const std::string&, std::uint32_t);

double in_fresh_store(StoreWork work, std::uint32_t count, const std::string& parent)
{
    std::string user_dir = make_temp_dir(parent);
    (void)fs::make_directory(user_dir + "/Inbox");
    double micros = work(user_dir, count);
    (void)fs::remove_tree(user_dir);
    return micros;
}

std::string memory_dir()
{
    return fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
}

void bench_small(std::uint32_t count)
{
    double best_receiver = 1e9;
    double best_floor = 1e9;
    for (int round = 0; round < 5; ++round) {
        best_receiver = std::min(best_receiver, in_fresh_store(store_small, count, memory_dir()));
        best_floor = std::min(best_floor, in_fresh_store(store_floor, count, memory_dir()));
    }
    std::printf(
        "small:    %u messages of %zu bytes on tmpfs: receiver %.1f us per message, "
        "floor (one file made and renamed) %.1f us; ratio %.2f\n",
        count, small_message(0).size(), best_receiver, best_floor, best_receiver / best_floor);
}

// System calls per message: strace counts a run of count messages and a run
// of none, and the difference is divided by count. The run stores into a
// directory made here, so that removing it is not counted.
std::map<std::string, long> strace_counts(const std::string& self, const char* part, std::uint32_t count)
{
    std::map<std::string, long> counts;
    std::string dir = make_temp_dir(memory_dir());
    std::string out = dir + "/strace.txt";
    std::string command = "strace -f -c -o '" + out + "' '" + self + "' " + part + " " + std::to_string(count) + " '" +
                          dir + "' > /dev/null 2>&1";
    if (std::system(command.c_str()) == 0) {
        std::ifstream in(out);
        std::string line;
        while (std::getline(in, line)) {
            // "% time  seconds  usecs/call  calls  [errors]  syscall"
            std::istringstream fields(line);
            std::vector<std::string> words;
            for (std::string w; fields >> w;)
                words.push_back(w);
            if (words.size() < 5 || words[0].find_first_not_of("0123456789.") != std::string::npos)
                continue;
            const std::string& name = words.back();
            if (name == "total")
                continue;
            counts[name] = std::atol(words[3].c_str());
            if (words.size() == 6)
                counts[name + " (failed)"] = std::atol(words[4].c_str());
        }
    }
    (void)fs::remove_tree(dir);
    return counts;
}

void bench_calls(const std::string& self, std::uint32_t count)
{
    if (std::system("command -v strace > /dev/null 2>&1") != 0) {
        std::printf("calls:    strace is not installed; nothing counted\n");
        return;
    }
    const std::pair<const char*, const char*> parts[] = {
        {"small-run", "receiver, small messages"},
        {"corpus-run", "receiver, corpus messages"},
        {"floor-run", "floor (one file made and renamed)"},
    };
    for (const auto& [part, what] : parts) {
        auto with = strace_counts(self, part, count);
        auto without = strace_counts(self, part, 0);
        double total = 0;
        std::string detail;
        for (const auto& [name, calls] : with) {
            double per = static_cast<double>(calls - without[name]) / count;
            if (per < 0.005)
                continue;
            if (name.find("(failed)") == std::string::npos)
                total += per;
            detail += text::format(" %s %.2f", name.c_str(), per);
        }
        std::printf("calls:    %s: %.2f system calls per message:%s\n", what, total, detail.c_str());
    }
}

}  // namespace

// store_bench [receiver|hostile|index|small|calls] [n]
int main(int argc, char** argv)
{
    std::string part = argc > 1 ? argv[1] : "";
    long n = argc > 2 ? std::atol(argv[2]) : -1;
    const bool all = part.empty();
    // Parts that strace runs by themselves, in a directory they are given.
    if (argc > 2 && part == "index-load") {
        load_index(argv[2]);
        return 0;
    }
    if (argc > 3 && (part == "small-run" || part == "corpus-run" || part == "floor-run")) {
        auto count = static_cast<std::uint32_t>(std::max(0L, n));
        std::string user_dir = argv[3];
        (void)fs::make_directory(user_dir + "/Inbox");
        if (part == "small-run")
            store_small(user_dir, count);
        else if (part == "corpus-run")
            store_corpus(user_dir, count);
        else
            store_floor(user_dir, count);
        return 0;
    }
    if (all || part == "receiver") {
        std::size_t megabytes = n > 0 ? static_cast<std::size_t>(n) : 50;
        // On the disk, and in memory (tmpfs), where only our own work counts.
        bench_receiver(megabytes, "/tmp");
        if (fs::is_directory("/dev/shm"))
            bench_receiver(megabytes, "/dev/shm");
        std::fflush(stdout);
    }
    if (all || part == "hostile")
        bench_hostile_messages();
    if (all || part == "index")
        bench_index();
    if (all || part == "small")
        bench_small(n > 0 ? static_cast<std::uint32_t>(n) : 2000);
    if (all || part == "calls")
        bench_calls(std::filesystem::read_symlink("/proc/self/exe").string(),
                    n > 0 ? static_cast<std::uint32_t>(n) : 2000);
    return 0;
}

// Figures for writing mail, printed as plain lines:
//
//   large    a message of 1 MB of text with a 1 MB attachment: building
//            .message.txt and sending it to aiosmtpd on loopback, in ms
//            (median of 7), beside Python's smtplib sending the same file
//   small    200 small messages, each built and sent in its own SMTP
//            session as the compose page does: messages per second, beside
//            Python's smtplib sending one of them as often
//
// The server is the tests' aiosmtpd (tests/peers/smtp); the figures include
// its own work, which dominates on a fast client.
// Run from a release build: build/<dir>/bench/compose/compose_bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "common/log/log_file.h"
#include "common/platform/files.h"
#include "engine/features/compose/compose_directory.h"
#include "engine/features/compose/message_builder.h"
#include "engine/features/compose/sending.h"
#include "tests/peers/smtp/smtp_peer.h"

using namespace corvane;

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class QuietLog final : public log::Logger {
public:
    void write_raw(std::string_view) override {}
    void flush() override {}
    int threshold() const override { return 6; }

protected:
    void write_message(std::string_view) override {}
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main()
{
    testing::SmtpPeer peer;
    if (std::string why = peer.start({"--size", std::to_string(64 << 20)}); !why.empty()) {
        std::fprintf(stderr, "compose_bench: %s\n", why.c_str());
        return 1;
    }
    std::string pattern = "/tmp/corvane-bench-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return 1;
    const std::string root = pattern;
    compose::ComposeDirectory dir(root + "/compose");
    (void)dir.ensure();
    QuietLog log;
    transport::SmtpSettings relay;
    relay.host = "127.0.0.1";
    relay.port = peer.port();
    relay.helo_domain = "bench.test";

    compose::MessageFields fields;
    fields.from = "\"Bench Mark\" <bench@corvane.test>";
    fields.to = "Ann <ann@x.test>, bob@x.test";
    fields.subject = "Quarterly figures — Überblick";
    compose::BuildOptions options;
    options.now = std::time(nullptr);

    // One MB of text in lines of 72, and one MB of random bytes.
    std::string text;
    std::mt19937 rng(1);
    while (text.size() < (1u << 20)) {
        std::string line;
        while (line.size() < 72)
            line += static_cast<char>('a' + rng() % 26);
        text += line + "\r\n";
    }
    std::string binary(1u << 20, '\0');
    for (char& c : binary)
        c = static_cast<char>(rng());
    (void)dir.write_body(text);
    (void)platform::write_file_atomic(dir.file("figures.bin"), binary);

    std::vector<double> build_ms, send_ms;
    for (int i = 0; i < 7; ++i) {
        auto start = Clock::now();
        auto path = compose::build_message(dir, fields, options);
        build_ms.push_back(ms_since(start));
        start = Clock::now();
        auto sent = compose::send_message(relay, fields, *path, log);
        send_ms.push_back(ms_since(start));
        if (!sent.sent) {
            std::fprintf(stderr, "compose_bench: the server refused the message\n");
            return 1;
        }
    }
    const std::string message = dir.message_path();
    std::printf("large    %.1f MB message: build %.1f ms, send %.1f ms (median of 7)\n",
                static_cast<double>(platform::file_size(message)) / (1 << 20), median(build_ms), median(send_ms));

    // The same file through Python's smtplib, for scale.
    const std::string script =
        "import smtplib,sys,time\n"
        "data=open(sys.argv[1],'rb').read().replace(b'\\n',b'\\r\\n')\n"
        "n=int(sys.argv[3]); t=[]\n"
        "for i in range(n):\n"
        "  s=time.time(); c=smtplib.SMTP('127.0.0.1',int(sys.argv[2])); c.sendmail('bench@corvane.test',"
        "['ann@x.test','bob@x.test'],data); c.quit(); t.append((time.time()-s)*1000)\n"
        "print('%.1f %.1f'%(sorted(t)[n//2],sum(t)))\n";
    (void)platform::write_file_atomic(root + "/reference_send.py", script);
    // The median and the total of `times` sessions sending `file`, in ms.
    auto reference = [&](const std::string& file, int times) -> std::pair<double, double> {
        const std::string command = "/usr/bin/python3 " + root + "/reference_send.py " + file + " " +
                                    std::to_string(peer.port()) + " " + std::to_string(times);
        std::pair<double, double> result{0, 0};
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            if (std::fscanf(pipe, "%lf %lf", &result.first, &result.second) != 2)
                result = {0, 0};
            ::pclose(pipe);
        }
        return result;
    };
    if (const auto [one, all] = reference(message, 7); all > 0)
        std::printf("large    Python smtplib, same file: %.1f ms (median of 7)\n", one);

    // Small messages, one session each.
    (void)dir.clear();
    (void)dir.ensure();
    const int count = 200;
    auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        fields.subject = "Note " + std::to_string(i);
        (void)dir.write_body("Hello,\r\n\r\nthis is note " + std::to_string(i) + ".\r\n\r\nRegards\r\n");
        auto path = compose::build_message(dir, fields, options);
        if (!compose::send_message(relay, fields, *path, log).sent) {
            std::fprintf(stderr, "compose_bench: a small message was refused\n");
            return 1;
        }
    }
    const double seconds = ms_since(start) / 1000;
    std::printf("small    %d messages built and sent in %.2f s: %.0f messages/s\n", count, seconds, count / seconds);
    if (const auto [one, all] = reference(dir.message_path(), count); all > 0)
        std::printf("small    Python smtplib, the last of them %d times: %.0f messages/s\n", count,
                    count / (all / 1000));

    peer.stop();
    (void)platform::remove_tree(root);
    return 0;
}

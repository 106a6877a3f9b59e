// Fetching a mailbox: 1,000 messages of realistic sizes (a few KB to a few
// hundred KB, 50 MB in all) from a real Dovecot on 127.0.0.1 into a user's
// store, side by side with mpop fetching the same mailbox into a Maildir
// (its default settings, fsync included), and with a bare POP3 client that
// only reads the messages (what the protocol and the server cost without
// any store). Each is run several times, alternating; the best run counts.
//
//   build/release/bench/transport/pop3_bench [rounds]
//
// Prints messages/s, MB/s and the CPU time of the client (user and system)
// for each. The bare client's time against Corvane's tells how much of the
// fetch is the store's. Needs dovecot and mpop (scripts/install-deps).
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/codec/password_codec.h"
#include "common/ini/profile.h"
#include "common/log/log_file.h"
#include "common/platform/files.h"
#include "engine/store/user_mail/user_mail.h"
#include "engine/transport/line_client/line_client.h"
#include "engine/transport/pop3/pop3_session.h"
#include "tests/peers/dovecot/dovecot_peer.h"
#include "tests/support/temp_dir.h"

using namespace corvane;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int message_count = 1000;
constexpr std::size_t total_bytes = 50u << 20;

// Sizes from a few KB to a few hundred KB, most of them small, as a real
// mailbox has them: a log-normal spread, scaled to the total.
std::vector<std::size_t> message_sizes()
{
    std::mt19937 random(20231114);
    std::lognormal_distribution<double> spread(9.6, 1.1);  // median ~15 KB
    std::vector<double> raw;
    double sum = 0;
    for (int i = 0; i < message_count; ++i) {
        double v = std::min(std::max(spread(random), 2000.0), 400000.0);
        raw.push_back(v);
        sum += v;
    }
    std::vector<std::size_t> sizes;
    for (double v : raw)
        sizes.push_back(static_cast<std::size_t>(v * static_cast<double>(total_bytes) / sum));
    return sizes;
}

// A message of about size bytes: a plain text part and, for the larger
// ones, a base64 attachment, like mail with documents attached.
std::string make_message(int n, std::size_t size)
{
    std::string m = "From: Sender " + std::to_string(n % 37) + " <sender" + std::to_string(n % 37) +
                    "@example.org>\nTo: bench@example.org\nSubject: Message number " + std::to_string(n) +
                    "\nDate: Tue, 14 Nov 2023 10:00:00 +0000\nMessage-ID: <" + std::to_string(n) +
                    "@bench.example.org>\nMIME-Version: 1.0\n";
    const std::string text_line = "The quick brown fox jumps over the lazy dog, and then it writes a report.\n";
    if (size < 8000) {
        m += "Content-Type: text/plain; charset=us-ascii\n\n";
        while (m.size() < size)
            m += text_line;
        return m;
    }
    m += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(n) + "\"\n\n--b" + std::to_string(n) +
         "\nContent-Type: text/plain; charset=us-ascii\n\n";
    for (int i = 0; i < 20; ++i)
        m += text_line;
    m += "\n--b" + std::to_string(n) +
         "\nContent-Type: application/pdf; name=\"report.pdf\"\nContent-Transfer-Encoding: base64\n"
         "Content-Disposition: attachment; filename=\"report.pdf\"\n\n";
    const std::string b64 = "JVBERi0xLjQKJcfsj6IKNSAwIG9iago8PC9MZW5ndGggNiAwIFIvRmlsdGVyIC9GbGF0ZUR";
    while (m.size() + 80 < size)
        m += b64.substr(0, 76) + "\n";
    m += "--b" + std::to_string(n) + "--\n";
    return m;
}

struct Cpu {
    double user = 0;
    double system = 0;
};
Cpu cpu_of(int who)
{
    rusage r{};
    ::getrusage(who, &r);
    return {static_cast<double>(r.ru_utime.tv_sec) + static_cast<double>(r.ru_utime.tv_usec) / 1e6,
            static_cast<double>(r.ru_stime.tv_sec) + static_cast<double>(r.ru_stime.tv_usec) / 1e6};
}

struct Run {
    double seconds = 1e9;
    Cpu cpu;
    std::size_t messages = 0;
    std::uint64_t bytes = 0;
};

class NullLog final : public log::Logger {
public:
    void write_raw(std::string_view) override {}
    void flush() override {}
    int threshold() const override { return 2; }

protected:
    void write_message(std::string_view) override {}
};

// A POP3 client that reads every message and keeps nothing.
class BareClient final : public transport::LineClient {
public:
    BareClient(std::string user, std::string pass) : LineClient(1 << 16), m_user(user), m_pass(pass) {}
    std::size_t messages = 0;
    std::uint64_t bytes = 0;

protected:
    void on_line(std::string_view line) override
    {
        if (m_state == State::data) {
            if (line == ".") {
                ++messages;
                next();
            } else {
                bytes += line.size() + 2;
            }
            return;
        }
        if (m_state == State::greeting) {
            m_state = State::user;
            send("USER " + m_user + "\r\n");
        } else if (m_state == State::user) {
            m_state = State::pass;
            send("PASS " + m_pass + "\r\n");
        } else if (m_state == State::pass) {
            m_state = State::stat;
            send("STAT\r\n");
        } else if (m_state == State::stat) {
            m_count = std::atoi(line.data() + 4);
            next();
        } else if (m_state == State::retr) {
            m_state = State::data;
        } else if (m_state == State::quit) {
            finish();
        }
    }
    void on_close() override {}
    void on_receive_error(int) override {}
    void on_overflow() override {}

private:
    enum class State { greeting, user, pass, stat, retr, data, quit };
    void next()
    {
        if (m_next > m_count) {
            m_state = State::quit;
            send("QUIT\r\n");
            return;
        }
        m_state = State::retr;
        send("RETR " + std::to_string(m_next++) + "\r\n");
    }
    std::string m_user, m_pass;
    State m_state = State::greeting;
    int m_count = 0;
    int m_next = 1;
};

Run run_bare(int port)
{
    Run run;
    Cpu before = cpu_of(RUSAGE_SELF);
    auto start = Clock::now();
    BareClient client("bench", "benchpw");
    if (!client.connect("127.0.0.1", port, "", std::chrono::seconds(10)))
        return run;
    client.run(std::chrono::seconds(30));
    client.close();
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Cpu after = cpu_of(RUSAGE_SELF);
    run.cpu = {after.user - before.user, after.system - before.system};
    run.messages = client.messages;
    run.bytes = client.bytes;
    return run;
}

Run run_corvane(int port)
{
    Run run;
    testing::TempDir dir;
    (void)platform::write_file_atomic(dir / "Corvane.ini", "[General]\n");
    (void)platform::make_directory(dir / "user");
    ini::Profile engine(dir / "Corvane.ini");
    codec::PasswordCodec codec(dir / "Corvane.key");
    store::UserMail mail(dir / "user");
    mail.load({"Inbox", "Drafts", "Sent", "Trash"}, engine, codec);
    mailboxes::MailboxRecord box;
    box.mailbox = "Bench";
    box.host = "127.0.0.1";
    box.port = port;
    box.user = "bench";
    box.pass = "benchpw";
    box.active = true;
    pop3::Settings settings;
    settings.retr_cutoff = 0;  // every message whole, as mpop fetches them
    NullLog log;

    Cpu before = cpu_of(RUSAGE_SELF);
    auto start = Clock::now();
    pop3::Pop3Session session(box, mail.index(), log, settings);
    bool ok = session.get_mail(mail.filter_context());
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Cpu after = cpu_of(RUSAGE_SELF);
    run.cpu = {after.user - before.user, after.system - before.system};
    run.messages = ok ? session.retrieved() : 0;
    run.bytes = platform::tree_size(dir / "user/Inbox");
    return run;
}

Run run_mpop(int port)
{
    Run run;
    testing::TempDir dir;
    for (const char* sub : {"Maildir", "Maildir/cur", "Maildir/new", "Maildir/tmp"})
        ::mkdir((dir / sub).c_str(), 0700);
    std::string conf = dir / "mpoprc";
    {
        std::ofstream out(conf);
        out << "defaults\naccount bench\nhost 127.0.0.1\nport " << port
            << "\nuser bench\npassword benchpw\nauth user\ntls off\nkeep on\n"
            << "delivery maildir " << (dir / "Maildir") << "\nuidls_file " << (dir / "uidls") << "\n";
    }
    ::chmod(conf.c_str(), 0600);
    std::string command = "mpop -q -C '" + conf + "' bench >/dev/null 2>&1";
    Cpu before = cpu_of(RUSAGE_CHILDREN);
    auto start = Clock::now();
    int rc = std::system(command.c_str());
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Cpu after = cpu_of(RUSAGE_CHILDREN);
    run.cpu = {after.user - before.user, after.system - before.system};
    if (rc == 0) {
        run.bytes = platform::tree_size(dir / "Maildir");
        auto listing = platform::list_directory(dir / "Maildir/new");
        run.messages = listing ? listing->size() : 0;
    }
    return run;
}

void print(const char* name, const Run& r)
{
    if (r.messages == 0) {
        std::printf("%-28s failed\n", name);
        return;
    }
    std::printf("%-28s %6zu msgs %7.1f MB %7.3f s %8.0f msgs/s %7.1f MB/s   cpu user %.3f s sys %.3f s\n", name,
                r.messages, static_cast<double>(r.bytes) / 1e6, r.seconds, static_cast<double>(r.messages) / r.seconds,
                static_cast<double>(r.bytes) / 1e6 / r.seconds, r.cpu.user, r.cpu.system);
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    // A second argument runs only that client ("bare", "corvane", "mpop"),
    // for a profiler or strace.
    std::string only = argc > 2 ? argv[2] : "";
    testing::DovecotPeer server;
    std::string error = server.start({{"bench", "benchpw"}});
    if (!error.empty()) {
        std::fprintf(stderr, "pop3_bench: %s\n", error.c_str());
        return 1;
    }
    std::uint64_t total = 0;
    auto sizes = message_sizes();
    for (int i = 0; i < message_count; ++i) {
        std::string m = make_message(i + 1, sizes[static_cast<std::size_t>(i)]);
        total += m.size();
        server.deliver("bench", m);
    }
    std::printf("mailbox: %d messages, %.1f MB (smallest %zu B, largest %zu B)\n", message_count,
                static_cast<double>(total) / 1e6, *std::min_element(sizes.begin(), sizes.end()),
                *std::max_element(sizes.begin(), sizes.end()));
    bool have_mpop = std::system("command -v mpop >/dev/null 2>&1") == 0;
    if (!have_mpop)
        std::printf("mpop is not installed (scripts/install-deps installs it): its row is missing\n");

    // The first session makes Dovecot index the mailbox; not measured.
    (void)run_bare(server.pop3_port());
    Run bare, corvane, mpop;
    auto best = [](Run& best_run, const Run& r) {
        if (r.messages > 0 && r.seconds < best_run.seconds)
            best_run = r;
    };
    for (int round = 0; round < rounds; ++round) {
        if (only.empty() || only == "bare")
            best(bare, run_bare(server.pop3_port()));
        if (only.empty() || only == "corvane")
            best(corvane, run_corvane(server.pop3_port()));
        if (have_mpop && (only.empty() || only == "mpop"))
            best(mpop, run_mpop(server.pop3_port()));
    }
    std::printf("best of %d rounds, from Dovecot on 127.0.0.1:\n", rounds);
    print("bare POP3 read (no store)", bare);
    print("Corvane into a user store", corvane);
    if (have_mpop)
        print("mpop into a Maildir", mpop);
    if (bare.messages && corvane.messages)
        std::printf("the store's share of Corvane's time: %.0f %%\n",
                    100.0 * (corvane.seconds - bare.seconds) / corvane.seconds);
    if (mpop.messages && corvane.messages)
        std::printf("Corvane / mpop rate: %.2f\n", mpop.seconds / corvane.seconds);
    return 0;
}

// Logon checks of each kind of stored password, and a user record's load
// and save.
//
//   scrambled   User.ini read and the password unscrambled (AES-GCM)
//   plain       the first logon of a "-word" password: scramble and rewrite
//   directory   anonymous bind and search on a real slapd over loopback
//   network     PAM with a local account (root only: the account is made
//               with useradd and removed afterwards)
//
// Run: build/<dir>/bench/accounts/logon_bench  (from the source tree)
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>

#include "common/codec/password_codec.h"
#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "engine/core/accounts/directory_library.h"
#include "engine/core/accounts/logon.h"
#include "engine/core/accounts/user_record.h"
#include "tests/peers/slapd/slapd_peer.h"

namespace fs = corvane::platform;
using namespace corvane::accounts;

namespace {

constexpr const char* bench_user = "cvbench-pam";
constexpr const char* bench_password = "Bench-pw 42";

class Tree {
public:
    Tree()
    {
        std::string pattern = "/tmp/corvane-accounts-bench-XXXXXX";
        m_root = ::mkdtemp(pattern.data()) ? pattern : "/tmp";
        (void)fs::make_directory(m_root + "/Users");
        m_settings = std::make_unique<corvane::ini::Profile>(m_root + "/Corvane.ini");
        m_codec = std::make_unique<corvane::codec::PasswordCodec>(m_root + "/Corvane.key");
        context.settings = m_settings.get();
        context.codec = m_codec.get();
        context.user_dir = m_root + "/Users";
    }
    ~Tree()
    {
        std::string command = "rm -rf '" + m_root + "'";
        if (std::system(command.c_str()) != 0) {
        }
    }
    void account(const std::string& name, const std::string& user_ini)
    {
        (void)fs::make_directory(context.user_dir + "/" + name);
        (void)fs::write_file_atomic(context.user_dir + "/" + name + "/User.ini", user_ini);
    }
    const corvane::ini::Profile& settings() const { return *m_settings; }
    corvane::codec::PasswordCodec& codec() { return *m_codec; }

    AccountsContext context;

private:
    std::string m_root;
    std::unique_ptr<corvane::ini::Profile> m_settings;
    std::unique_ptr<corvane::codec::PasswordCodec> m_codec;
};

void expect(benchmark::State& state, LogonResult got)
{
    if (got != LogonResult::accepted)
        state.SkipWithError(("logon gave " + std::to_string(code_of(got))).c_str());
}

void BM_LogonScrambled(benchmark::State& state)
{
    Tree tree;
    tree.account("anna", "[User]\nPassword=" + *tree.codec().scramble("Secret7") + "\nFullName=Anna\n");
    for (auto _ : state)
        expect(state, check_logon(tree.context, "anna", "Secret7"));
}
BENCHMARK(BM_LogonScrambled)->Unit(benchmark::kMicrosecond);

void BM_LogonScrambledRefused(benchmark::State& state)
{
    Tree tree;
    tree.account("anna", "[User]\nPassword=" + *tree.codec().scramble("Secret7") + "\n");
    for (auto _ : state)
        benchmark::DoNotOptimize(check_logon(tree.context, "anna", "wrong"));
}
BENCHMARK(BM_LogonScrambledRefused)->Unit(benchmark::kMicrosecond);

void BM_LogonPlainFirstTime(benchmark::State& state)
{
    Tree tree;
    for (auto _ : state) {
        state.PauseTiming();
        tree.account("bert", "[User]\nPassword=-Word9\n");
        state.ResumeTiming();
        expect(state, check_logon(tree.context, "bert", "Word9"));
    }
}
BENCHMARK(BM_LogonPlainFirstTime)->Unit(benchmark::kMicrosecond);

void BM_LogonDirectory(benchmark::State& state)
{
    corvane::testing::SlapdPeer peer;
    std::string why = peer.start();
    auto library = DirectoryLibrary::load();
    if (!why.empty() || !library) {
        state.SkipWithError(why.empty() ? library.error().text.c_str() : why.c_str());
        return;
    }
    Tree tree;
    tree.context.directory = library->get();
    (void)tree.settings().write_text("LDAPAuth", "Host", peer.host());
    (void)tree.settings().write_text("LDAPAuth", "Base", corvane::testing::SlapdPeer::base);
    tree.account("jsmith", "[User]\nPassword=*\n");
    for (auto _ : state)
        expect(state, check_logon(tree.context, "jsmith", "Johnpw-7"));
}
BENCHMARK(BM_LogonDirectory)->Unit(benchmark::kMicrosecond);

void BM_LogonNetwork(benchmark::State& state)
{
    if (::geteuid() != 0) {
        state.SkipWithError("needs root to create a local account");
        return;
    }
    bool installed_pam_file = false;
    if (!fs::exists("/etc/pam.d/corvane")) {
        auto shipped = fs::read_file("packaging/pam.d/corvane");
        if (!shipped || !fs::write_file_atomic("/etc/pam.d/corvane", *shipped).ok()) {
            state.SkipWithError("run from the source tree: packaging/pam.d/corvane is needed");
            return;
        }
        installed_pam_file = true;
    }
    std::string user = bench_user;
    if (std::system(("userdel " + user + " >/dev/null 2>&1; useradd --no-create-home --shell /usr/sbin/nologin " +
                     user + " && echo '" + user + ":" + bench_password + "' | chpasswd")
                        .c_str()) != 0) {
        state.SkipWithError("useradd failed");
    } else {
        Tree tree;
        tree.account(user, "[User]\nPassword=\\\n");
        for (auto _ : state)
            expect(state, check_logon(tree.context, user, bench_password));
    }
    if (std::system(("userdel " + user + " >/dev/null 2>&1").c_str()) != 0) {
    }
    if (installed_pam_file)
        (void)fs::remove_file("/etc/pam.d/corvane");
}
BENCHMARK(BM_LogonNetwork)->Unit(benchmark::kMicrosecond);

void BM_UserRecordLoadSaveRelease(benchmark::State& state)
{
    Tree tree;
    tree.account("carl", "[User]\nPassword=" + *tree.codec().scramble("pw") +
                             "\nLang=de\nComposeWidth=80\n[Stats]\nSent=4\n[MailHost1]\nMailbox=Home\n");
    for (auto _ : state) {
        auto user = UserRecord::load(tree.context, "carl");
        (*user)->settings().compose_width ^= 1;
        benchmark::DoNotOptimize((*user)->save());
        (*user)->release();
    }
}
BENCHMARK(BM_UserRecordLoadSaveRelease)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

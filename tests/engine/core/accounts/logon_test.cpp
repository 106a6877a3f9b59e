#include "engine/core/accounts/logon.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/platform/unique_fd.h"
#include "engine/core/accounts/directory_library.h"
#include "engine/core/accounts/network_logon.h"
#include "engine/core/accounts/stored_password.h"
#include "tests/engine/core/accounts/accounts_fixture.h"

using namespace corvane::accounts;
namespace fs = corvane::platform;

namespace {

class Logon : public corvane::testing::AccountsTest {
protected:
    static void SetUpTestSuite()
    {
        auto loaded = DirectoryLibrary::load();
        ASSERT_TRUE(loaded.ok()) << loaded.error().text;
        s_library = std::move(*loaded).release();
    }
    static void TearDownTestSuite()
    {
        delete s_library;
        s_library = nullptr;
    }

    LogonResult check(std::string_view name, std::string_view password)
    {
        return check_logon(m_context, name, password);
    }

    static DirectoryLibrary* s_library;
};
DirectoryLibrary* Logon::s_library = nullptr;

// A TCP listener that completes connections in the kernel and never reads or
// answers: the directory server that hangs.
class SilentListener {
public:
    SilentListener()
    {
        m_fd = corvane::platform::UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(m_fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(m_fd.get(), 8) == 0 &&
            ::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            m_port = ntohs(addr.sin_port);
    }
    int port() const { return m_port; }

private:
    corvane::platform::UniqueFd m_fd;
    int m_port = -1;
};

int closed_port()
{
    SilentListener gone;  // bound, then closed again: nobody listens there now
    return gone.port();
}

}  // namespace

TEST_F(Logon, LocalPasswords)
{
    make_account("anna", "[User]\nPassword=" + scrambled("Secret7") + "\n");
    make_account("nopw", "[User]\nFullName=No Password\n");
    make_account("empty", "[User]\nPassword=\n");
    make_account("broken", "[User]\nPassword=C1AAAAAAAA\n");
    make_account("long", "[User]\nPassword=" + scrambled(std::string(60, 'p')) + "\n");
    struct Case {
        const char* name;
        std::string typed;
        LogonResult want;
    } cases[] = {
        {"anna", "Secret7", LogonResult::accepted},
        {"ANNA", "Secret7", LogonResult::accepted},  // names match without regard to case
        {"anna", "Secret", LogonResult::refused},
        {"anna", "Secret77", LogonResult::refused},
        {"anna", "", LogonResult::refused},
        {"", "Secret7", LogonResult::refused},
        {"nobody", "Secret7", LogonResult::refused},
        {"nopw", "x", LogonResult::refused},
        {"empty", "x", LogonResult::refused},
        {"broken", "x", LogonResult::refused},
        {"long", std::string(60, 'p'), LogonResult::refused},  // the stored password is held to 47 bytes
        {"long", std::string(47, 'p'), LogonResult::accepted},
    };
    for (const auto& c : cases)
        EXPECT_EQ(check(c.name, c.typed), c.want) << c.name << " / " << c.typed;
    EXPECT_TRUE(m_log.contains("stored password of user broken is not readable")) << m_log.all();
    EXPECT_FALSE(fs::exists(m_context.user_dir + "/nobody")) << "a logon check creates nothing";
}

TEST_F(Logon, CaseSensitivePasswordsSetting)
{
    make_account("anna", "[User]\nPassword=" + scrambled("Secret7") + "\n");
    make_account("bert", "[User]\nPassword=-Plain9\n");
    // Yes, the default, also lets a password that differs in letter case pass.
    EXPECT_EQ(check("anna", "sECRET7"), LogonResult::accepted);
    EXPECT_EQ(check("bert", "PLAIN9"), LogonResult::accepted);
    ASSERT_TRUE(m_settings.write_text("General", "CaseSensitivePasswords", "No"));
    EXPECT_EQ(check("anna", "sECRET7"), LogonResult::refused);
    EXPECT_EQ(check("bert", "plain9"), LogonResult::refused);
    EXPECT_EQ(check("anna", "Secret7"), LogonResult::accepted);
    EXPECT_EQ(check("bert", "Plain9"), LogonResult::accepted);
    ASSERT_TRUE(m_settings.write_text("General", "CaseSensitivePasswords", "true"));
    EXPECT_EQ(check("anna", "secret7"), LogonResult::accepted);
}

TEST_F(Logon, PlainPasswordIsScrambledOnFirstLogonAndStillAccepted)
{
    std::string path = make_account("carl", "[User]\nPassword=-Word9\nFullName=Carl\n");
    EXPECT_EQ(check("carl", "Word9"), LogonResult::accepted);
    auto doc = corvane::ini::Document::parse(read(path));
    std::string stored(*doc.get("User", "Password"));
    EXPECT_TRUE(corvane::codec::PasswordCodec::looks_scrambled(stored)) << "got " << stored;
    EXPECT_EQ(*m_codec.unscramble(stored), "Word9");
    EXPECT_EQ(*doc.get("User", "FullName"), "Carl");
    EXPECT_EQ(check("carl", "Word9"), LogonResult::accepted);
    EXPECT_EQ(check("carl", "Word8"), LogonResult::refused);
    EXPECT_EQ(*corvane::ini::Document::parse(read(path)).get("User", "Password"), stored)
        << "a scrambled password is not rewritten";

    // A wrong first attempt scrambles the plain text too.
    std::string other = make_account("dora", "[User]\nPassword=-Word9\n");
    EXPECT_EQ(check("dora", "nope"), LogonResult::refused);
    EXPECT_EQ(*m_codec.unscramble(*corvane::ini::Document::parse(read(other)).get("User", "Password")), "Word9");
}

TEST_F(Logon, InactiveAccountsAreInactiveWhateverTheirPassword)
{
    for (std::string password : {scrambled("pw"), std::string("-pw"), std::string("*"), std::string("\\")}) {
        make_account("idle", "[User]\nActive=No\nPassword=" + password + "\n");
        EXPECT_EQ(check("idle", "pw"), LogonResult::inactive) << password;
    }
    make_account("idle", "[User]\nActive=0\n");
    EXPECT_EQ(check("idle", "pw"), LogonResult::inactive);
    make_account("idle", "[User]\nActive=on\nPassword=" + scrambled("pw") + "\n");
    EXPECT_EQ(check("idle", "pw"), LogonResult::inactive) << "\"on\" is not a yes";
    make_account("busy", "[User]\nActive=Yes\nPassword=" + scrambled("pw") + "\n");
    EXPECT_EQ(check("busy", "pw"), LogonResult::accepted);
}

TEST_F(Logon, DirectoryLogonUnavailable)
{
    make_account("dirk", "[User]\nPassword=*\n");
    // Without the library.
    EXPECT_EQ(check("dirk", "pw"), LogonResult::directory_unavailable);
    EXPECT_TRUE(m_log.contains("LDAP login attempted, but LDAP DLL is not loaded!")) << m_log.all();

    m_context.directory = s_library;
    // No host anywhere.
    EXPECT_EQ(check("dirk", "pw"), LogonResult::directory_unavailable);
    // A host where nobody listens, from the settings and from the password.
    ASSERT_TRUE(m_settings.write_text("LDAPAuth", "Host", "127.0.0.1:" + std::to_string(closed_port())));
    EXPECT_EQ(check("dirk", "pw"), LogonResult::directory_unavailable);
    ASSERT_TRUE(m_settings.write_text("LDAPAuth", "Host", ""));
    make_account("dirk", "[User]\nPassword=*127.0.0.1:" + std::to_string(closed_port()) + "\n");
    EXPECT_EQ(check("dirk", "pw"), LogonResult::directory_unavailable);
    // A server that takes the connection and never answers: the time limit
    // bounds the wait.
    SilentListener silent;
    ASSERT_GT(silent.port(), 0);
    ASSERT_TRUE(m_settings.write_number("LDAPAuth", "TimeLimit", 1));
    make_account("dirk", "[User]\nPassword=*127.0.0.1:" + std::to_string(silent.port()) + "\n");
    EXPECT_EQ(check("dirk", "pw"), LogonResult::directory_unavailable);
    EXPECT_TRUE(m_log.contains("could not bind")) << m_log.all();
}

TEST_F(Logon, DirectoryFilterCannotBeWidenedByTheName)
{
    EXPECT_EQ(*directory_filter("(cn=USER)", "jsmith"), "(cn=jsmith)");
    EXPECT_EQ(*directory_filter("(cn=USER)", "js*"), "(cn=js\\2a)");
    EXPECT_EQ(*directory_filter("(|(uid=USER)(mail=USER@x))", "a)(b"), "(|(uid=a\\29\\28b)(mail=a\\29\\28b@x))");
    EXPECT_EQ(*directory_filter("(cn=USER)", "USER"), "(cn=USER)") << "replacement runs once";
    EXPECT_EQ(*directory_filter("(cn=user)", "x"), "(cn=user)") << "only upper-case USER is a placeholder";
    EXPECT_EQ(escape_filter_value(std::string("a\\b\0c", 5)), "a\\5cb\\00c");
    EXPECT_FALSE(directory_filter(std::string(500, '(') + "USER", std::string(79, '*')).has_value());
}

TEST_F(Logon, StoredPasswordKindsAndNetworkNames)
{
    EXPECT_EQ(classify_password("-abc").kind, PasswordKind::plain);
    EXPECT_EQ(classify_password("-abc").rest, "abc");
    EXPECT_EQ(classify_password("*ldap.example").rest, "ldap.example");
    EXPECT_EQ(classify_password("*").kind, PasswordKind::directory);
    EXPECT_EQ(classify_password("\\").kind, PasswordKind::network);
    EXPECT_EQ(classify_password("C1xyz").kind, PasswordKind::scrambled);
    EXPECT_EQ(classify_password("").kind, PasswordKind::scrambled);

    EXPECT_EQ(network_logon_name("", "jsmith"), "jsmith");
    EXPECT_EQ(network_logon_name(".", "jsmith"), "jsmith");
    EXPECT_EQ(network_logon_name("NT_ANY", "jsmith"), "jsmith");
    EXPECT_EQ(network_logon_name("nt_any", "jsmith"), "jsmith");
    EXPECT_EQ(network_logon_name("CORP", "jsmith"), "CORP\\jsmith");

    EXPECT_TRUE(passwords_match("abc", "abc", false));
    EXPECT_FALSE(passwords_match("abc", "ABC", false));
    EXPECT_TRUE(passwords_match("abc", "ABC", true));
    EXPECT_FALSE(passwords_match("abc", "abcd", true));
    EXPECT_FALSE(passwords_match("", "x", true));
}

TEST_F(Logon, DirectoryLibraryNeedsEveryEntryPoint)
{
    EXPECT_FALSE(DirectoryLibrary::load_from(m_tmp / "missing.so").ok());
    auto libc = DirectoryLibrary::load_from("libc.so.6");
    ASSERT_FALSE(libc.ok());
    EXPECT_NE(libc.error().text.find("ldap_open"), std::string::npos) << libc.error().text;
    EXPECT_NE(libc.error().text.find("ldap_set_option"), std::string::npos) << libc.error().text;
    // Loading and unloading again and again leaves nothing behind.
    for (int i = 0; i < 3; ++i) {
        auto again = DirectoryLibrary::load();
        ASSERT_TRUE(again.ok()) << again.error().text;
        EXPECT_NE((*again)->api().open, nullptr);
    }
    EXPECT_FALSE(DirectoryConnection::open(*s_library, "", {}).has_value());
}

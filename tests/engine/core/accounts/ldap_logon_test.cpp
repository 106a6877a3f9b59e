// Directory logons against a real OpenLDAP slapd on 127.0.0.1 (people.ldif
// in tests/peers/slapd holds the entries used here).
#include <gtest/gtest.h>

#include "engine/core/accounts/directory_library.h"
#include "engine/core/accounts/logon.h"
#include "tests/engine/core/accounts/accounts_fixture.h"
#include "tests/peers/slapd/slapd_peer.h"

using namespace corvane::accounts;
using corvane::testing::SlapdPeer;

namespace {

class DirectoryLogon : public corvane::testing::AccountsTest {
protected:
    static void SetUpTestSuite()
    {
        s_peer = new SlapdPeer;
        s_peer_error = s_peer->start();
        auto loaded = DirectoryLibrary::load();
        if (loaded)
            s_library = std::move(*loaded).release();
        else
            s_peer_error += loaded.error().text;
    }
    static void TearDownTestSuite()
    {
        delete s_peer;
        delete s_library;
        s_peer = nullptr;
        s_library = nullptr;
    }

    void SetUp() override
    {
        ASSERT_EQ(s_peer_error, "");
        m_context.directory = s_library;
        ASSERT_TRUE(m_settings.write_text("LDAPAuth", "Host", s_peer->host()));
        ASSERT_TRUE(m_settings.write_text("LDAPAuth", "Base", SlapdPeer::base));
    }

    LogonResult check(std::string_view name, std::string_view password)
    {
        return check_logon(m_context, name, password);
    }

    static SlapdPeer* s_peer;
    static std::string s_peer_error;
    static DirectoryLibrary* s_library;
};
SlapdPeer* DirectoryLogon::s_peer = nullptr;
std::string DirectoryLogon::s_peer_error;
DirectoryLibrary* DirectoryLogon::s_library = nullptr;

}  // namespace

TEST_F(DirectoryLogon, PasswordsAreCheckedAgainstTheEntry)
{
    for (const char* name : {"jsmith", "nopass", "ghost", "js*", "*", "Bj\xC3\xB6rn"})
        make_account(name, "[User]\nPassword=*\n");
    struct Case {
        const char* name;
        const char* typed;
        LogonResult want;
    } cases[] = {
        {"jsmith", "Johnpw-7", LogonResult::accepted},
        {"JSMITH", "Johnpw-7", LogonResult::accepted},  // the directory matches cn without regard to case
        {"jsmith", "johnpw-7", LogonResult::refused},   // but compares the password exactly
        {"jsmith", "Johnpw-", LogonResult::refused},
        {"nopass", "anything", LogonResult::refused},  // entry without the password attribute
        {"ghost", "Johnpw-7", LogonResult::refused},   // no entry at all
        {"js*", "Johnpw-7", LogonResult::refused},     // a wildcard in the name must not find jsmith
        {"Bj\xC3\xB6rn", "p\xC3\xA4sssw\xC3\xB6rt", LogonResult::refused},
        {"Bj\xC3\xB6rn", "p\xC3\xA4ssw\xC3\xB6rt", LogonResult::accepted},
    };
    for (const auto& c : cases)
        EXPECT_EQ(check(c.name, c.typed), c.want) << c.name << " / " << c.typed << "\n" << m_log.all();
    // The "*" account's name is escaped as well: (cn=\2a) finds nobody.
    EXPECT_EQ(check("*", "Johnpw-7"), LogonResult::refused);
}

TEST_F(DirectoryLogon, HostInThePasswordWinsOverTheSettings)
{
    ASSERT_TRUE(m_settings.write_text("LDAPAuth", "Host",
                                      "127.0.0.1:" + std::to_string(corvane::testing::free_loopback_port())));
    make_account("jsmith", "[User]\nPassword=*" + s_peer->host() + "\n");
    make_account("mlopez", "[User]\nPassword=*\n");
    EXPECT_EQ(check("jsmith", "Johnpw-7"), LogonResult::accepted);
    EXPECT_EQ(check("mlopez", "S3cret maria"), LogonResult::directory_unavailable);
}

TEST_F(DirectoryLogon, ConfiguredFilterAttributesAndLimits)
{
    make_account("mlopez", "[User]\nPassword=*\n");
    make_account("twin", "[User]\nPassword=*\n");
    ASSERT_TRUE(m_settings.write_text("LDAPAuth", "Filter", "(&(objectClass=inetOrgPerson)(uid=USER))"));
    EXPECT_EQ(check("mlopez", "S3cret maria"), LogonResult::accepted);
    ASSERT_TRUE(m_settings.write_text("LDAPAuth", "PassAttr", "mail"));
    EXPECT_EQ(check("mlopez", "maria.lopez@corvane.test"), LogonResult::accepted) << "the first value counts";
    EXPECT_EQ(check("mlopez", "mlopez@example.org"), LogonResult::refused);
    ASSERT_TRUE(m_settings.write_text("LDAPAuth", "PassAttr", "password"));

    // Two entries answer (cn=twin): more than the size limit of 1 is a
    // failed search; with room for both the first entry decides.
    ASSERT_TRUE(m_settings.write_text("LDAPAuth", "Filter", "(cn=USER)"));
    EXPECT_EQ(check("twin", "first-twin"), LogonResult::directory_unavailable);
    ASSERT_TRUE(m_settings.write_number("LDAPAuth", "SizeLimit", 5));
    bool first = check("twin", "first-twin") == LogonResult::accepted;
    bool second = check("twin", "second-twin") == LogonResult::accepted;
    EXPECT_NE(first, second) << "exactly one of the two entries is the first";

    // A search the server refuses: unknown base, broken filter.
    ASSERT_TRUE(m_settings.write_text("LDAPAuth", "Base", "dc=nowhere,dc=test"));
    EXPECT_EQ(check("mlopez", "S3cret maria"), LogonResult::directory_unavailable);
    ASSERT_TRUE(m_settings.write_text("LDAPAuth", "Base", SlapdPeer::base));
    ASSERT_TRUE(m_settings.write_text("LDAPAuth", "Filter", "(cn=USER"));
    EXPECT_EQ(check("mlopez", "S3cret maria"), LogonResult::directory_unavailable);
    EXPECT_TRUE(m_log.contains("search on")) << m_log.all();
}

TEST_F(DirectoryLogon, ConnectionServesAnAddressSearch)
{
    auto connection = DirectoryConnection::open(*s_library, s_peer->host(), {5, 10});
    ASSERT_TRUE(connection.has_value());
    ASSERT_EQ(connection->bind_anonymously(), 0) << "the connection must speak LDAP version 3";
    DirectoryResult result;
    ASSERT_EQ(connection->search(SlapdPeer::base, "(|(cn=*Lopez*)(cn=nopass)(cn=Bj\xC3\xB6rn))", result), 0);
    std::vector<std::string> rows;
    for (auto entry = result.first(); entry; entry = result.next(entry)) {
        auto names = result.values(entry, "cn");
        auto mails = result.values(entry, "mail");
        std::string row = names.empty() ? "?" : names.back();
        for (const auto& mail : mails)
            row += " " + mail;
        rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{"Bj\xC3\xB6rn bjorn@corvane.test",
                                              "Maria Lopez maria.lopez@corvane.test mlopez@example.org", "nopass"}));
    // A result moved out keeps working and is freed once.
    DirectoryResult moved = std::move(result);
    EXPECT_NE(moved.first(), nullptr);
    EXPECT_EQ(result.first(), nullptr);
}

TEST_F(DirectoryLogon, AServerThatGoesAwayMakesTheLogonUnavailable)
{
    SlapdPeer own;
    ASSERT_EQ(own.start(), "");
    make_account("jsmith", "[User]\nPassword=*" + own.host() + "\n");
    EXPECT_EQ(check("jsmith", "Johnpw-7"), LogonResult::accepted);
    own.stop();
    EXPECT_EQ(check("jsmith", "Johnpw-7"), LogonResult::directory_unavailable);
    EXPECT_TRUE(m_log.contains("could not connect")) << m_log.all();
}

// Network logons through the system's PAM with a real local account that
// the test creates (useradd, chpasswd) and removes again. Creating accounts
// needs root; elsewhere the tests are skipped with a message saying so.
// The product's PAM file is installed as /etc/pam.d/corvane when there is
// none (and removed again afterwards).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "common/platform/files.h"
#include "engine/core/accounts/logon.h"
#include "engine/core/accounts/network_logon.h"
#include "tests/engine/core/accounts/accounts_fixture.h"

using namespace corvane::accounts;
namespace fs = corvane::platform;

namespace {

constexpr const char* pam_file = "/etc/pam.d/corvane";
constexpr const char* test_password = "Tr0ub4dor&3 horse";

bool run(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

class NetworkLogonTest : public corvane::testing::AccountsTest {
protected:
    static void SetUpTestSuite()
    {
        if (::geteuid() != 0) {
            s_skip = "network logons need a local account made by root; run as root (CI does)";
            return;
        }
        if (!fs::exists(pam_file)) {
            auto shipped = fs::read_file(std::string(CORVANE_SOURCE_DIR) + "/packaging/pam.d/corvane");
            if (!shipped || !fs::write_file_atomic(pam_file, *shipped).ok()) {
                s_setup_error = "could not install " + std::string(pam_file);
                return;
            }
            s_installed_pam_file = true;
        }
        // A fixed name: whatever a crashed run left behind is replaced.
        s_user = "cvtest-pam";
        run("userdel " + s_user + " >/dev/null 2>&1");
        if (!run("useradd --no-create-home --shell /usr/sbin/nologin " + s_user) ||
            !run("echo '" + s_user + ":" + test_password + "' | chpasswd")) {
            s_setup_error = "could not create the local account " + s_user;
            return;
        }
        s_created_user = true;
    }
    static void TearDownTestSuite()
    {
        if (s_created_user)
            run("userdel " + s_user + " >/dev/null 2>&1");
        if (s_installed_pam_file)
            (void)fs::remove_file(pam_file);
    }

    void SetUp() override
    {
        if (!s_skip.empty())
            GTEST_SKIP() << s_skip;
        ASSERT_EQ(s_setup_error, "");
    }

    LogonResult check(std::string_view name, std::string_view password)
    {
        return check_logon(m_context, name, password);
    }

    static std::string s_skip;
    static std::string s_setup_error;
    static std::string s_user;
    static bool s_created_user;
    static bool s_installed_pam_file;
};
std::string NetworkLogonTest::s_skip;
std::string NetworkLogonTest::s_setup_error;
std::string NetworkLogonTest::s_user;
bool NetworkLogonTest::s_created_user = false;
bool NetworkLogonTest::s_installed_pam_file = false;

}  // namespace

TEST_F(NetworkLogonTest, LocalAccountThroughPam)
{
    // "\" alone and "\." mean this machine, "\NT_ANY" any domain: all give
    // PAM the bare name.
    for (std::string stored : {"\\", "\\.", "\\NT_ANY", "\\nt_any"}) {
        make_account(s_user, "[User]\nPassword=" + stored + "\n");
        EXPECT_EQ(check(s_user, test_password), LogonResult::accepted) << stored << "\n" << m_log.all();
    }
    make_account(s_user, "[User]\nPassword=\\\n");
    EXPECT_EQ(check(s_user, "Tr0ub4dor&3 Horse"), LogonResult::refused) << "PAM compares exactly";
    EXPECT_TRUE(m_log.contains("Network authentication failed, error code 7")) << m_log.all();  // PAM_AUTH_ERR
    EXPECT_EQ(check(s_user, std::string(test_password) + std::string(1, '\0') + "tail"), LogonResult::refused);

    // A domain goes to PAM as "DOMAIN\user", which the local files do not know.
    make_account(s_user, "[User]\nPassword=\\EXAMPLE\n");
    EXPECT_EQ(check(s_user, test_password), LogonResult::refused);

    make_account(s_user, "[User]\nPassword=\\\nActive=No\n");
    EXPECT_EQ(check(s_user, test_password), LogonResult::inactive);
}

TEST_F(NetworkLogonTest, DirectPamChecks)
{
    EXPECT_TRUE(check_network_logon(s_user, test_password).accepted);
    EXPECT_FALSE(check_network_logon(s_user, "").accepted);
    EXPECT_FALSE(check_network_logon("", test_password).accepted);
    auto unknown = check_network_logon("cvtest-nobody-here", test_password);
    EXPECT_FALSE(unknown.accepted);
    EXPECT_NE(unknown.code, 0);
}

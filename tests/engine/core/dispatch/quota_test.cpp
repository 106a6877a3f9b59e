// The quota test before a mail check: each limit of 1 or more must not be
// below the user's count; without enforcement mail is always fetched.
#include "engine/core/dispatch/quota.h"

#include <gtest/gtest.h>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "engine/core/accounts/user_record.h"
#include "tests/support/temp_dir.h"

namespace corvane::dispatch {
namespace {

TEST(Quota, LimitsMustNotBeBelowTheCounts)
{
    testing::TempDir dir;
    ini::Profile settings(dir / "Corvane.ini");
    struct Case {
        const char* enforce;
        const char* max_messages;
        const char* max_size;
        std::int64_t count;
        std::int64_t size_kb;
        bool allowed;
    };
    const Case cases[] = {
        {"No", "1", "1", 500, 500, true},    // not enforced
        {"Yes", "0", "0", 500, 500, true},   // no limits
        {"Yes", "10", "0", 10, 0, true},     // at the limit
        {"Yes", "10", "0", 11, 0, false},    // above it
        {"Yes", "0", "100", 0, 100, true},   // size at the limit
        {"Yes", "0", "100", 0, 101, false},  // size above it
        {"Yes", "-5", "-5", 9, 9, true},     // below 1 means none
        {"Yes", "10", "100", 0, 0, true},    // an empty store
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(platform::write_file_atomic(dir / "Corvane.ini", std::string("[UserLimits]\nEnforceQuotas=") +
                                                                         c.enforce + "\nMaxMessages=" + c.max_messages +
                                                                         "\nMaxDirSize=" + c.max_size + "\n"));
        accounts::MailTotals mail{c.count, static_cast<std::uint64_t>(c.size_kb) * 1024};
        EXPECT_EQ(mail_fetch_allowed(settings, mail), c.allowed)
            << c.enforce << " " << c.max_messages << " " << c.max_size;
    }
}

}  // namespace
}  // namespace corvane::dispatch

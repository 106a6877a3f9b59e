// The quota test before a mail check: each limit of 1 or more must not be
// below the user's count; without enforcement mail is always fetched.
#include "engine/core/dispatch/quota.h"

#include <gtest/gtest.h>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "engine/core/sessions/session_user.h"
#include "tests/support/temp_dir.h"

namespace corvane::dispatch {
namespace {

class CountedUser final : public sessions::SessionUser {
public:
    std::optional<std::int64_t> count;
    std::optional<std::int64_t> size_kb;

    const std::string& name() const override { return m_text; }
    const std::string& directory() const override { return m_text; }
    const std::string& settings_path() const override { return m_text; }
    std::string default_full_name() const override { return {}; }
    std::string default_email() const override { return {}; }
    std::string language() const override { return "en"; }
    std::string theme() const override { return "jsFrames"; }
    bool empty_trash_on_exit() const override { return false; }
    std::optional<std::int64_t> mail_size_kb() const override { return size_kb; }
    std::optional<std::int64_t> message_count() const override { return count; }

private:
    std::string m_text;
};

TEST(Quota, LimitsMustNotBeBelowTheCounts)
{
    testing::TempDir dir;
    ini::Profile settings(dir / "Corvane.ini");
    struct Case {
        const char* enforce;
        const char* max_messages;
        const char* max_size;
        std::optional<std::int64_t> count;
        std::optional<std::int64_t> size;
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
        {"Yes", "10", "100", {}, {}, true},  // unknown counts are 0
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(platform::write_file_atomic(dir / "Corvane.ini", std::string("[UserLimits]\nEnforceQuotas=") +
                                                                         c.enforce + "\nMaxMessages=" + c.max_messages +
                                                                         "\nMaxDirSize=" + c.max_size + "\n"));
        CountedUser user;
        user.count = c.count;
        user.size_kb = c.size;
        EXPECT_EQ(mail_fetch_allowed(settings, user), c.allowed)
            << c.enforce << " " << c.max_messages << " " << c.max_size;
    }
}

}  // namespace
}  // namespace corvane::dispatch

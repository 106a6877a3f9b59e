// A User.ini of any bytes through the user record: load (which may rewrite
// a plain-text password) and save. The settings must come out within their
// limits and the saved file must load again to the same settings.
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/codec/password_codec.h"
#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "engine/core/accounts/user_record.h"

namespace fs = corvane::platform;
using namespace corvane::accounts;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

struct Tree {
    Tree()
    {
        char pattern[] = "/tmp/corvane-user-ini-fuzz-XXXXXX";
        root = ::mkdtemp(pattern);
        (void)fs::make_directories(root + "/Users/fuzz");
        settings = std::make_unique<corvane::ini::Profile>(root + "/Corvane.ini");
        codec = std::make_unique<corvane::codec::PasswordCodec>(root + "/Corvane.key");
        context.settings = settings.get();
        context.codec = codec.get();
        context.user_dir = root + "/Users";
    }
    ~Tree()
    {
        std::string command = "rm -rf '" + root + "'";
        if (std::system(command.c_str()) != 0) {
        }
    }
    std::string root;
    std::unique_ptr<corvane::ini::Profile> settings;
    std::unique_ptr<corvane::codec::PasswordCodec> codec;
    AccountsContext context;
};

bool within(const UserSettings& s)
{
    return s.compose_width >= min_compose_width && s.compose_width <= max_compose_width && s.list_refresh_time >= 1 &&
           !s.language.empty() && s.language.size() <= max_language && !s.theme.empty() &&
           s.theme.size() <= max_theme && s.theme.find('/') == std::string::npos && s.style.size() <= max_style &&
           s.style.find('/') == std::string::npos && s.password.size() <= max_password;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Tree tree;
    std::string path = tree.context.user_dir + "/fuzz/User.ini";
    if (!fs::write_file_atomic(path, std::string_view(reinterpret_cast<const char*>(data), size), 0644,
                               fs::Durability::none)
             .ok())
        return 0;
    auto first = UserRecord::load(tree.context, "fuzz");
    check(first.ok());
    check(within((*first)->settings()));
    (*first)->save();
    auto second = UserRecord::load(tree.context, "fuzz");
    check(second.ok());
    const UserSettings& a = (*first)->settings();
    const UserSettings& b = (*second)->settings();
    check(a.language == b.language && a.theme == b.theme && a.style == b.style && a.sort_order == b.sort_order &&
          a.compose_width == b.compose_width && a.list_refresh_time == b.list_refresh_time &&
          a.compose_height == b.compose_height && a.active == b.active && a.password == b.password);
    (*second)->release();
    return 0;
}

// Fuzzes the HTML sanitiser. The first byte picks the policy (remote images,
// a session for cid: references); the rest is the mail's HTML. The output,
// read back by a parser, holds nothing that runs or loads, and sanitising
// it again changes nothing.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/store/html_sanitizer/html_sanitizer.h"
#include "tests/engine/store/html_sanitizer/tree_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace corvane::sanitize;
    if (size == 0)
        return 0;
    constexpr std::string_view prefix = "/Corvane?Session=ABCDEFG&View=Attachment&CID=";
    Policy policy;
    policy.allow_remote_images = (data[0] & 1) != 0;
    if (data[0] & 2)
        policy.cid_url_prefix = std::string(prefix);
    policy.nesting.max_depth = 20 + data[0] % 64;
    std::string_view html(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::string out;
    sanitize_html(html, policy, out);
    testing::TreeFacts facts = testing::check_tree(out, policy.cid_url_prefix, policy.allow_remote_images);
    if (!facts.problems.empty())
        std::abort();
    if (facts.max_depth > 4 * policy.nesting.max_depth + 8)
        std::abort();

    Policy plain = policy;
    plain.cid_url_prefix.clear();
    std::string once;
    sanitize_html(html, plain, once);
    std::string twice;
    sanitize_html(once, plain, twice);
    if (once != twice)
        std::abort();
    return 0;
}

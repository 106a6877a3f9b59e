#include "webserver/credentials.h"

#include <gtest/gtest.h>

#include "common/text/base64.h"

using namespace corvane::webserver;

TEST(Credentials, DecodesTheBasicSchemeInAnyCase)
{
    EXPECT_EQ(decode_basic("Basic YWRtaW46U2VjcmV0").value_or("?"), "admin:Secret");
    EXPECT_EQ(decode_basic("BASIC YWRtaW46U2VjcmV0").value_or("?"), "admin:Secret");
    EXPECT_EQ(decode_basic("bAsIc YWRtaW46U2VjcmV0").value_or("?"), "admin:Secret");
    EXPECT_FALSE(decode_basic("Digest username=\"admin\""));
    EXPECT_FALSE(decode_basic("Basic"));  // the blank belongs to the scheme word
    EXPECT_EQ(decode_basic("Basic ").value_or("?"), "");
}

TEST(Credentials, DecodingStopsAtTheFirstForeignCharacter)
{
    // Padding, a trailing blank or junk end the text; what came before stays.
    EXPECT_EQ(decode_basic("Basic YWRtaW46cw==").value_or("?"), "admin:s");
    EXPECT_EQ(decode_basic("Basic YWRtaW46cw").value_or("?"), "admin:s");
    EXPECT_EQ(decode_basic("Basic YWRtaW46U2VjcmV0 trailing").value_or("?"), "admin:Secret");
    EXPECT_EQ(decode_basic("Basic YWRt!aW46").value_or("?"), "adm");
    EXPECT_EQ(decode_base64_prefix("Y"), "");  // a lone character carries no byte
}

TEST(Credentials, DecodesAtMost255Characters)
{
    std::string secret(300, 'x');
    std::string encoded = corvane::text::base64_encode("u:" + secret);
    auto decoded = decode_basic("Basic " + encoded).value();
    EXPECT_EQ(decoded.size(), 255u / 4 * 3 + 2);  // 63 groups and a 3-character tail
    EXPECT_EQ(decoded.substr(0, 2), "u:");
}

TEST(Credentials, UserNamesIgnoreCasePasswordsDoNot)
{
    struct Case {
        const char* expected;
        const char* decoded;
        bool match;
    };
    const Case cases[] = {
        {"admin:Secret", "admin:Secret", true},
        {"admin:Secret", "ADMIN:Secret", true},
        {"admin:Secret", "admin:secret", false},
        {"admin:Secret", "admin:Secret ", false},
        {"admin:Secret", "admins:Secret", false},
        {"admin:Secret", "adm:inSecret", false},
        {"admin:Secret", "admin", false},
        {"admin:", "ADMIN:", true},
        {"nocolon", "nocolon", true},
        {"nocolon", "NOCOLON", false},  // no ":" means no user part
        {"a:b:c", "A:b:c", true},
        {"a:b:c", "a:b:C", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(credentials_match(c.expected, c.decoded), c.match) << c.expected << " vs " << c.decoded;
}

TEST(Credentials, NulBytesDoNotCutTheComparison)
{
    std::string sent("admin:Secret\0more", 17);
    EXPECT_FALSE(credentials_match("admin:Secret", sent));
    EXPECT_EQ(user_of("jsmith:pw"), "jsmith");
    EXPECT_EQ(user_of("jsmith"), "jsmith");
}

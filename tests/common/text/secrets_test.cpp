#include "common/text/secrets.h"

#include <gtest/gtest.h>

using namespace corvane::text;

TEST(Secrets, PasswordValuesNeverReachALog)
{
    struct Case {
        const char* line;
        const char* want;
    };
    const Case cases[] = {
        {"GET /Corvane?User=ann&Password=s3cret&View=Main HTTP/1.0",
         "GET /Corvane?User=ann&Password=****&View=Main HTTP/1.0"},
        {"GET /C?password=s3cret HTTP/1.0", "GET /C?password=**** HTTP/1.0"},
        {"GET /C?NewPassword=s3cret&ConfirmPassword=s3cret HTTP/1.0",
         "GET /C?NewPassword=****&ConfirmPassword=**** HTTP/1.0"},
        {"GET /C?AccountPassword:2=s3cret&Pass=s3cret&PASS1=s3cret HTTP/1.0",
         "GET /C?AccountPassword:2=****&Pass=****&PASS1=**** HTTP/1.0"},
        // Names as the engine decodes them.
        {"GET /C?%50assword=s3cret&Pass%77ord=s3cret&Pass+x=s3cret HTTP/1.0",
         "GET /C?%50assword=****&Pass%77ord=****&Pass+x=**** HTTP/1.0"},
        {"GET /C?Pass%00word=s3cret HTTP/1.0", "GET /C?Pass%00word=**** HTTP/1.0"},
        // Values with "=" and "?" in them go whole.
        {"GET /C?Password=s3=cr?et&a=b HTTP/1.0", "GET /C?Password=****&a=b HTTP/1.0"},
        // No version, no query, empty fields: left as they were.
        {"GET /C?Password=s3cret", "GET /C?Password=****"},
        {"GET /Password=s3cret HTTP/1.0", "GET /Password=s3cret HTTP/1.0"},
        {"GET /C?&&User=a&Password&=x HTTP/1.0", "GET /C?&&User=a&Password&=x HTTP/1.0"},
        {"GET /C?Passive=1&Compass=2&Bypass=3 HTTP/1.0", "GET /C?Passive=****&Compass=2&Bypass=3 HTTP/1.0"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mask_request_line(c.line), c.want) << c.line;

    EXPECT_EQ(mask_secret_fields("User=a&Password=b"), "User=a&Password=****");
    EXPECT_TRUE(is_secret_field("ConfirmPassword"));
    EXPECT_TRUE(is_secret_field("passwd"));
    EXPECT_FALSE(is_secret_field("User"));
    EXPECT_FALSE(is_secret_field("Compass"));
}

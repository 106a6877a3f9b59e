#include "common/text/base64.h"

#include <gtest/gtest.h>

using namespace corvane::text;

TEST(Base64, Rfc4648Vectors)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (auto [plain, coded] : vectors) {
        EXPECT_EQ(base64_encode(plain), coded);
        EXPECT_EQ(base64_decode(coded), plain);
    }
    EXPECT_EQ(base64_encode("fo", Padding::without), "Zm8");
    EXPECT_EQ(base64_decode("Zm8"), "fo");
    EXPECT_EQ(base64_decode("Zm9v\r\nYmFy"), "foobar");
}

TEST(Base64, RejectsGarbage)
{
    for (const char* bad : {"Zm9v!", "Z", "Zm9vY", "Zg=a", "Zg===", "Z==="})
        EXPECT_EQ(base64_decode(bad), std::nullopt) << bad;
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    EXPECT_EQ(base64_decode(base64_encode(all)), all);
    EXPECT_TRUE(is_base64_alphabet("Az09+/"));
    EXPECT_FALSE(is_base64_alphabet("a=b"));
}

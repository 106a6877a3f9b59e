// Message texts from Languages.ini are administrators' printf formats: only
// conversions that fit their arguments are filled, anything else leaves the
// text unformatted, and no format reaches printf.
#include "engine/core/dispatch/message_format.h"

#include <gtest/gtest.h>

#include "common/log/log_file.h"

namespace corvane::dispatch {
namespace {

TEST(MessageFormat, FillsConversionsThatFit)
{
    const std::int64_t three = 3, twelve = 12, minus = -42, zero = 0;
    const std::string_view box = "Work";
    EXPECT_EQ(format_message("Receiving message %d of %d from %s", {three, twelve, box}),
              "Receiving message 3 of 12 from Work");
    EXPECT_EQ(format_message("%s: %d%% done", {box, three}), "Work: 3% done");
    EXPECT_EQ(format_message("[%5d|%-5d|%05d]", {three, three, three}), "[    3|3    |00003]");
    EXPECT_EQ(format_message("[%.2s|%6s|%-6s]", {box, box, box}), "[Wo|  Work|Work  ]");
    EXPECT_EQ(format_message("%+d %i %u %ld %lld", {three, twelve, three, twelve, three}), "+3 12 3 12 3");
    EXPECT_EQ(format_message("%d|%05d|%.0d|", {minus, minus, zero}), "-42|-0042||");
    EXPECT_EQ(format_message("no conversions at all", {}), "no conversions at all");
    // Arguments beyond the conversions are ignored, as printf does.
    EXPECT_EQ(format_message("Connecting to %s ...", {box, three}), "Connecting to Work ...");
}

TEST(MessageFormat, RefusesWhatDoesNotFit)
{
    std::string_view box = "Work";
    const char* refused[] = {
        "%n",           // writes memory under printf
        "%p %x %c %f",  // types we never pass
        "%s of %d",     // order swapped: a number where a text is due
        "%d %d %d",     // a conversion too many
        "100%",         // a lone "%" at the end
        "%1000d",       // four-digit widths ask for megabytes
        "%.9999s",
        "%*d",  // width from the arguments
    };
    for (const char* format : refused)
        EXPECT_FALSE(format_message(format, {std::int64_t{1}, box})) << format;

    struct Quiet final : log::Logger {
        std::string last;
        void write_raw(std::string_view) override {}
        void flush() override {}
        int threshold() const override { return 1; }
        void write_message(std::string_view message) override { last = message; }
    } log;
    EXPECT_EQ(format_language_string(52, "Mailbox %n failed", {box}, log), "Mailbox %n failed");
    EXPECT_NE(log.last.find("Language string 52"), std::string::npos);
}

}  // namespace
}  // namespace corvane::dispatch

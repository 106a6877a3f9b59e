#include "engine/core/cgi/field_table.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/core/cgi/streams.h"

namespace corvane::cgi {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs pairs_of(const FieldTable& table)
{
    Pairs out;
    for (const auto& e : table.entries())
        out.emplace_back(e.name, e.value);
    return out;
}

FieldTable request_table(std::string query, std::vector<std::string> more = {})
{
    more.push_back("QUERY_STRING=" + query);
    FieldTable table{Environment(std::move(more))};
    table.register_multi_value("Number");
    table.register_multi_value("AddrNum");
    table.register_multi_value("GlobalNum");
    return table;
}

// A pipe whose write end is fed by a thread, in pieces of the given size,
// the way a slow peer delivers a body.
class BodyPipe {
public:
    BodyPipe(std::string body, std::size_t piece)
    {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        m_read = fds[0];
        m_writer = std::thread([fd = fds[1], body = std::move(body), piece] {
            // A reader that stops early must not end the test with SIGPIPE.
            sigset_t pipe_set;
            sigemptyset(&pipe_set);
            sigaddset(&pipe_set, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe_set, nullptr);
            for (std::size_t i = 0; i < body.size(); i += piece) {
                std::size_t n = std::min(piece, body.size() - i);
                if (::write(fd, body.data() + i, n) != static_cast<ssize_t>(n))
                    break;
            }
            ::close(fd);
        });
    }
    ~BodyPipe() { m_writer.join(); }
    int take_read_end() { return m_read; }

private:
    int m_read = -1;
    std::thread m_writer;
};

TEST(FieldTable, QueryStringRules)
{
    struct Case {
        const char* query;
        Pairs want;
    };
    const std::string long_name(60, 'N');
    const Case cases[] = {
        {"View=List&Number=3&Number=7", {{"View", "List"}, {"Number", "3"}, {"Number", "7"}}},
        {"Folder=A&Folder=B", {{"Folder", "B"}}},
        {"Subject=a%2bb+c", {{"Subject", "a+b c"}}},
        {"Go.X=3&Send.x=12&Send.y=5", {{"Go", "3"}, {"Send", "5"}}},
        {"Go.xy=1&a.b.x=2", {{"Go.xy", "1"}, {"a.b", "2"}}},
        {"&&novalue&=empty&x=&y==z", {{"", "empty"}, {"x", ""}, {"y", "=z"}}},
        {"folder=a&FOLDER=b&number=1&NUMBER=2", {{"folder", "b"}, {"number", "1"}, {"NUMBER", "2"}}},
        {"a=%G1&b=%4", {{"a", "\x01"}, {"b", "%4"}}},
        {"a=%&b=x%", {{"a", "%"}, {"b", "x%"}}},
        {"a=x%00y&b%00c=1", {{"a", "x"}, {"b", "1"}}},
        // Decoding happens after the split, so encoded separators are data.
        {"q=a%26b%3Dc", {{"q", "a&b=c"}}},
    };
    for (const auto& c : cases) {
        FieldTable table = request_table(c.query);
        table.parse_query_string();
        EXPECT_EQ(pairs_of(table), c.want) << "query " << c.query;
    }

    FieldTable table = request_table(long_name + "=v");
    table.parse_query_string();
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table.entries()[0].name, std::string(59, 'N'));
    // Lookups cut the name the same way, so the long name still finds it.
    EXPECT_EQ(table.value(long_name), "v");
}

TEST(FieldTable, DataFromAnotherEncoder)
{
    // Produced by Python's urllib.parse.urlencode, not by our code.
    FieldTable table = request_table(
        "Subject=a%2Bb+c&Body=Gr%C3%BC%C3%9Fe%0D%0AZeile+2+%26+%3Cx%3E&To=%22Anna%22+%3Canna%40example.org%3E");
    table.parse_query_string();
    EXPECT_EQ(table.value("subject"), "a+b c");
    EXPECT_EQ(table.value("BODY"), "Grüße\r\nZeile 2 & <x>");
    EXPECT_EQ(table.value("To"), "\"Anna\" <anna@example.org>");
}

TEST(FieldTable, LookupsAndEdits)
{
    FieldTable table = request_table("View=List&Number=3&Number=7&Blank=%20%0D%0A%09&Empty=");
    table.parse_query_string();

    // The first Number answers, however often the second was touched.
    EXPECT_EQ(table.value("Number"), "3");
    EXPECT_TRUE(table.present("Empty"));
    EXPECT_TRUE(table.missing_or_empty("Empty"));
    EXPECT_TRUE(table.missing_or_empty("Nothing"));
    EXPECT_FALSE(table.missing_or_blank("View"));
    EXPECT_TRUE(table.missing_or_blank("Blank"));
    EXPECT_FALSE(table.missing_or_empty("Blank"));
    EXPECT_EQ(table.value("nothing"), "");

    table.set("view", "Message");
    EXPECT_EQ(table.value("VIEW"), "Message");
    EXPECT_EQ(table.entries()[0].name, "View");

    EXPECT_TRUE(table.remove("Number"));
    EXPECT_EQ(table.value("Number"), "7");
    EXPECT_TRUE(table.remove("number"));
    EXPECT_FALSE(table.present("Number"));
    EXPECT_FALSE(table.remove("Number"));
    EXPECT_EQ(table.value("View"), "Message");
    EXPECT_EQ(table.value("Empty"), "");

    table.append("FrameView", "List");
    EXPECT_EQ(table.entries().back().name, "FrameView");
    EXPECT_EQ(table.value("frameview"), "List");
}

TEST(FieldTable, EnvironmentLookups)
{
    Environment env({"PATH=/bin", "HTTP_COOKIE=User=ann; Lang=de", "QUERY=1", "QUERY_STRING=a=1", "EMPTY=", "NOEQUALS",
                     "X=first", "x=second"});
    EXPECT_EQ(env.variable("QUERY_STRING"), "a=1");
    EXPECT_EQ(env.variable("query"), "1");
    EXPECT_EQ(env.variable("http_cookie"), "User=ann; Lang=de");
    EXPECT_EQ(env.variable("EMPTY"), "");
    EXPECT_EQ(env.variable("NOEQUALS"), "");
    EXPECT_EQ(env.variable("MISSING"), "");
    EXPECT_EQ(env.variable(""), "");
    // The first of two spellings wins, also after the second was cached.
    EXPECT_EQ(env.variable("X"), "first");
    EXPECT_EQ(env.variable("x"), "first");

    const char block[] = "A=1\0B=two\0\0";
    Environment from_block = Environment::from_block(block);
    EXPECT_EQ(from_block.variables().size(), 2u);
    EXPECT_EQ(from_block.variable("b"), "two");
    EXPECT_TRUE(Environment::from_block(nullptr).variables().empty());
}

TEST(FieldTable, BodyContentTypeAndLength)
{
    struct Case {
        const char* length;  // null: no CONTENT_LENGTH at all
        const char* type;
        BodyResult want;
        const char* want_value;
    };
    const Case cases[] = {
        {"9", "application/x-www-form-urlencoded", BodyResult::parsed, "b"},
        {"9", "Application/X-WWW-Form-Urlencoded", BodyResult::parsed, "b"},
        {"9", "application/x-www-form-urlencoded; charset=UTF-8", BodyResult::not_form, ""},
        {"9", "multipart/form-data; boundary=x", BodyResult::not_form, ""},
        {"0", "application/x-www-form-urlencoded", BodyResult::parsed, ""},
        {"-5", "application/x-www-form-urlencoded", BodyResult::parsed, ""},
        {nullptr, "application/x-www-form-urlencoded", BodyResult::parsed, ""},
        {"99999999999999999999", "application/x-www-form-urlencoded", BodyResult::too_large, ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> vars = {std::string("CONTENT_TYPE=") + c.type};
        if (c.length)
            vars.push_back(std::string("CONTENT_LENGTH=") + c.length);
        FieldTable table = request_table("Folder=a", vars);
        table.parse_query_string();
        BodyPipe pipe("Folder=b&", 4);
        InputStream in(platform::UniqueFd(pipe.take_read_end()), 9);
        EXPECT_EQ(table.parse_body(in), c.want) << c.type << " " << (c.length ? c.length : "(none)");
        if (c.want == BodyResult::parsed && *c.want_value) {
            EXPECT_EQ(table.value("Folder"), c.want_value);
        }
        if (c.want != BodyResult::parsed || !*c.want_value) {
            // Nothing was read: the body is still there for another parser.
            EXPECT_EQ(in.remaining(), 9u);
            EXPECT_EQ(table.value("Folder"), "a");
        }
    }
}

TEST(FieldTable, BodyInPiecesShortAndMultiValue)
{
    const std::string body = "Number=5&View=Message&Number=6&Subject=Hello+World%21";
    for (std::size_t piece : {body.size(), std::size_t{1}, std::size_t{7}}) {
        FieldTable table = request_table("View=List&Number=4", {"CONTENT_TYPE=application/x-www-form-urlencoded",
                                                                "CONTENT_LENGTH=" + std::to_string(body.size())});
        table.parse_query_string();
        BodyPipe pipe(body, piece);
        InputStream in(platform::UniqueFd(pipe.take_read_end()), body.size());
        ASSERT_EQ(table.parse_body(in), BodyResult::parsed);
        EXPECT_EQ(
            pairs_of(table),
            (Pairs{
                {"View", "Message"}, {"Number", "4"}, {"Number", "5"}, {"Number", "6"}, {"Subject", "Hello World!"}}))
            << "pieces of " << piece;
    }

    // The peer announces 100 bytes and delivers 13: what arrived counts.
    FieldTable table = request_table("", {"CONTENT_TYPE=application/x-www-form-urlencoded", "CONTENT_LENGTH=100"});
    BodyPipe pipe("To=x&Subject=", 3);
    InputStream in(platform::UniqueFd(pipe.take_read_end()), 100);
    EXPECT_EQ(table.parse_body(in), BodyResult::parsed);
    EXPECT_TRUE(in.short_read());
    EXPECT_EQ(pairs_of(table), (Pairs{{"To", "x"}, {"Subject", ""}}));
}

TEST(FieldTable, HostileForms)
{
    // Many distinct fields: lookups stay fast enough for the limit of a body.
    std::string form;
    for (int i = 0; i < 50000; ++i)
        form += "f" + std::to_string(i) + "=" + std::to_string(i) + "&";
    FieldTable table = request_table("");
    table.parse_form(form);
    EXPECT_EQ(table.size(), 50000u);
    EXPECT_EQ(table.value("F49999"), "49999");

    // Binary junk with unbalanced escapes never reads past its end.
    std::string junk;
    for (int i = 0; i < 4096; ++i)
        junk.push_back(static_cast<char>((i * 37) & 0xFF));
    junk += "%";
    FieldTable junk_table = request_table("");
    junk_table.parse_form(junk);
    for (const auto& e : junk_table.entries()) {
        EXPECT_LE(e.name.size(), FieldTable::max_name);
        EXPECT_EQ(e.name.find('\0'), std::string::npos);
        EXPECT_EQ(e.value.find('\0'), std::string::npos);
    }

    // Thousands of repeats of a multi-value name are all kept, in order.
    std::string repeats;
    for (int i = 0; i < 3000; ++i)
        repeats += "Number=" + std::to_string(i) + "&";
    FieldTable numbers = request_table(repeats);
    numbers.parse_query_string();
    ASSERT_EQ(numbers.size(), 3000u);
    EXPECT_EQ(numbers.entries()[2999].value, "2999");
}

}  // namespace
}  // namespace corvane::cgi

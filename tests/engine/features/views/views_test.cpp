// The List, Message and Attachment views through Corvane.so: list options,
// emptying the Trash, quotas, the printable page, the source, downloads,
// and hostile requests.
#include <string>
#include <vector>

#include "common/text/base64.h"
#include "tests/engine/features/mail_fixture.h"

namespace corvane::features::test {
namespace {

constexpr std::string_view text_message_limit = "Your mailbox holds the largest number of messages allowed.";
constexpr std::string_view text_size_limit = "Your mailbox has reached its size limit.";
constexpr std::string_view text_not_found = "The message could not be found.";
constexpr std::string_view waiting_page = "Checking for new mail";
constexpr std::string_view list_marker = "class=\"cv-table cv-messages\"";

class Views : public MailFixture {};

TEST_F(Views, SortChoiceIsKeptAndTheSameInAnotherCaseWritesNothing)
{
    start();
    seed({text_mail("b"), text_mail("a")});
    Logon s = alice("SortOrder=Subject\n");
    std::string ini = user_dir() + "/User.ini";
    // Every request notes its time in [Stats] LastAccess; the settings are
    // what must stay as they were.
    auto settings = [&ini] {
        std::string text = platform::read_file(ini).value();
        std::size_t at = text.find("LastAccess=");
        return at == std::string::npos ? text : text.erase(at, text.find('\n', at) - at);
    };
    std::string before = settings();
    EXPECT_NE(in_session(s, "View=List&Sort=subject").body.find(list_marker), std::string::npos);
    EXPECT_EQ(settings(), before) << "the settings were rewritten";

    auto list = in_session(s, "View=List&Sort=RevSize");
    EXPECT_NE(list.body.find("data-sort=\"RevSize\""), std::string::npos);
    EXPECT_NE(platform::read_file(ini).value().find("SortOrder=RevSize"), std::string::npos);
}

TEST_F(Views, EmptyTrashKeepsWhatItsServerMustStillDelete)
{
    start();
    seed({Mail{text_mail("keep").text, "Trash", "Home", "uid-1"},
          Mail{text_mail("drop").text, "Trash", "Work", "uid-2"}, Mail{text_mail("local").text, "Trash"},
          Mail{text_mail("inbox").text, "Inbox", "Home", "uid-3"}});
    Logon s = alice(mailbox_section(1, "Home", 1) + mailbox_section(2, "Work", 0));
    // Delete mode 1 keeps its entry for the server; the check follows the response.
    auto emptied = in_session(s, "View=List&EmptyTrash=Yes&Folder=Trash");
    EXPECT_NE(emptied.body.find(waiting_page), std::string::npos) << emptied.body;
    std::string index = index_text();
    EXPECT_NE(index.find("uid-1"), std::string::npos);
    EXPECT_EQ(index.find("uid-2"), std::string::npos);
    EXPECT_EQ(index.find("local"), std::string::npos);
    EXPECT_NE(index.find("uid-3"), std::string::npos);
    EXPECT_EQ(count_of(index, "CV0000"), 2u);
    EXPECT_TRUE(platform::list_directory(user_dir() + "/Trash").value().empty());
}

TEST_F(Views, QuotasStopTheAutomaticCheck)
{
    struct Case {
        int messages;
        std::vector<testing::EngineSetting> limits;
        std::string_view message;  // empty: the check runs
    };
    const std::vector<Case> cases = {
        {11, {{"UserLimits", "EnforceQuotas", "Yes"}, {"UserLimits", "MaxMessages", "10"}}, text_message_limit},
        {10, {{"UserLimits", "EnforceQuotas", "Yes"}, {"UserLimits", "MaxMessages", "10"}}, ""},
        {11, {{"UserLimits", "EnforceQuotas", "No"}, {"UserLimits", "MaxMessages", "10"}}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.messages);
        std::vector<Mail> mails;
        for (int i = 0; i < c.messages; ++i)
            mails.push_back(text_mail("m" + std::to_string(i)));
        start(c.limits);
        seed(mails);
        Logon s = alice(mailbox_section(1, "Home", 0));
        auto list = in_session(s, "View=List");
        if (c.message.empty()) {
            EXPECT_NE(list.body.find(waiting_page), std::string::npos);
        } else {
            EXPECT_NE(list.body.find(c.message), std::string::npos) << list.body.substr(0, 400);
            EXPECT_NE(list.body.find(list_marker), std::string::npos);
        }
        host.reset();
    }
}

TEST_F(Views, MailSizeRoundsToTheNearestKilobyte)
{
    // Two messages of 1535 bytes in all are 1 KB (within MaxDirSize 1); 1536 are 2.
    for (std::size_t total : {1535u, 1536u}) {
        SCOPED_TRACE(total);
        Mail first = text_mail("first");
        Mail second =
            text_mail("second", std::string(total - first.text.size() - text_mail("second", "").text.size(), 'x'));
        start({{"UserLimits", "EnforceQuotas", "Yes"}, {"UserLimits", "MaxDirSize", "1"}});
        seed({first, second});
        Logon s = alice(mailbox_section(1, "Home", 0));
        auto list = in_session(s, "View=List");
        if (total == 1535)
            EXPECT_NE(list.body.find(waiting_page), std::string::npos);
        else
            EXPECT_NE(list.body.find(text_size_limit), std::string::npos);
        host.reset();
    }
}

TEST_F(Views, MessagePageMarksReadAndPrintAndSourceAreTheirOwnPages)
{
    start();
    auto numbers = seed({text_mail("Tags <b>here</b>", "line with <i>markup</i> & an ampersand\r\nsecond line")});
    Logon s = alice();
    std::string n = std::to_string(numbers[0]);
    EXPECT_EQ(index_text().find("\x01"
                                "133\x01"),
              std::string::npos);

    auto message = in_session(s, "View=Message&Number=" + n);
    EXPECT_NE(message.body.find("Tags &lt;b&gt;here&lt;/b&gt;"), std::string::npos);
    EXPECT_NE(message.body.find("line with &lt;i&gt;markup&lt;/i&gt; &amp; an ampersand<BR>"), std::string::npos);
    EXPECT_NE(message.header("Content-Security-Policy").find("default-src 'self'"), std::string::npos);
    EXPECT_EQ(message.header("Content-Security-Policy").find("https:"), std::string::npos);
    // Read now: new (1), read (4), downloaded (128).
    EXPECT_NE(index_text().find("\x01"
                                "133\x01"),
              std::string::npos)
        << index_text();

    auto print = in_session(s, "View=Message&Print=Yes&Number=" + n);
    EXPECT_EQ(print.header("Content-type"), "text/html; charset=UTF-8");
    EXPECT_EQ(print.body.rfind("<HTML>\r\n<BODY>\r\n<TT>\r\n<B>From: </B>Bob &lt;bob@example.org&gt;<BR>\r\n", 0), 0u)
        << print.body;
    EXPECT_NE(print.body.find("<B>Subject: </B>Tags &lt;b&gt;here&lt;/b&gt;<BR>\r\n<BR>\r\n"), std::string::npos);
    EXPECT_NE(print.body.find("&lt;i&gt;markup"), std::string::npos);
    EXPECT_EQ(print.body.find("<$"), std::string::npos);
    EXPECT_EQ(print.body.find("cv-page"), std::string::npos);
    EXPECT_TRUE(print.body.ends_with("</TT>\r\n</BODY>\r\n</HTML>\r\n"));

    auto source = in_session(s, "View=Message&Source=Yes&Number=" + n);
    EXPECT_EQ(source.header("Content-type"), "text/plain");
    EXPECT_EQ(source.body,
              platform::read_file(user_dir() + "/Inbox/CV" + text::format("%06u", numbers[0]) + ".msg").value());

    // The sender into the address book, once.
    for (int i = 0; i < 2; ++i)
        in_session(s, "View=Message&ToAddrBook=Yes&Number=" + n);
    EXPECT_EQ(platform::read_file(user_dir() + "/AddrBook.txt").value(), "Bob\tbob@example.org\t\r\n");

    // Pictures from other sites only when asked, on that page.
    auto images = in_session(s, "View=Message&Images=Yes&Number=" + n);
    EXPECT_NE(images.header("Content-Security-Policy").find("img-src 'self' data: https:"), std::string::npos);
}

TEST_F(Views, HostileNumbersAndPagesAreAnsweredWithTheList)
{
    std::vector<Mail> mails;
    for (int i = 0; i < 120; ++i)
        mails.push_back(text_mail("m" + std::to_string(i)));
    start();
    auto numbers = seed(mails);
    Logon s = alice();
    for (const char* number : {"-1", "0", "999999999999999999999", "abc", "1e3", "%00", "12%20OR%201"}) {
        SCOPED_TRACE(number);
        auto page = in_session(s, std::string("View=Message&Number=") + number);
        EXPECT_NE(page.body.find(list_marker), std::string::npos) << page.raw.substr(0, 600);
        EXPECT_NE(page.body.find(text_not_found), std::string::npos);
    }
    // 120 messages, 50 to a page: pages of 50, 50 and 20 rows.
    struct Case {
        const char* page;
        std::size_t rows;
        const char* shown;
    };
    const Case cases[] = {{"", 50, "1"},         {"&Page=2", 50, "2"},   {"&Page=3", 20, "3"},
                          {"&Page=-5", 50, "1"}, {"&Page=abc", 50, "1"}, {"&Page=99999999999999999999", 20, "3"},
                          {"&Page=", 50, "1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        auto list = in_session(s, std::string("View=List") + c.page);
        EXPECT_EQ(count_of(list.body, "name=\"Number\""), c.rows);
        EXPECT_NE(list.body.find(std::string("<span aria-current=\"page\">") + c.shown + "</span>"), std::string::npos);
    }
    // The Error page's Continue leads to the list, not back into the failure.
    auto error = in_session(s, "View=NoSuchPage");
    EXPECT_NE(error.body.find("href=\"/cgi-bin/Corvane.so?Session=" + s.id + "&View=List\""), std::string::npos);

    // Without a Page the list opens at the page of the message last read.
    in_session(s, "View=Message&Number=" + std::to_string(numbers[10]));
    auto back = in_session(s, "View=List");
    EXPECT_NE(back.body.find("<span aria-current=\"page\">3</span>"), std::string::npos);
    EXPECT_NE(back.body.find("id=\"" + std::to_string(numbers[10]) + "\""), std::string::npos);
}

std::string attachment_mail(const std::string& binary)
{
    std::string b64 = text::base64_encode(binary);
    std::vector<std::string> lines = {"From: Ann <ann@example.org>",
                                      "To: alice@example.org",
                                      "Subject: files",
                                      "Content-Type: multipart/mixed; boundary=zz",
                                      "",
                                      "--zz",
                                      "Content-Type: text/plain",
                                      "",
                                      "See the files.",
                                      "--zz",
                                      "Content-Type: text/plain; name=first.txt",
                                      "Content-ID: <c1@x>",
                                      "",
                                      "first part",
                                      "--zz",
                                      "Content-Type: text/plain; name=second.txt",
                                      "Content-ID: <c2@x>",
                                      "",
                                      "second part",
                                      "--zz",
                                      "Content-Type: application/octet-stream; name=data.bin",
                                      "Content-Transfer-Encoding: base64",
                                      ""};
    for (std::size_t i = 0; i < b64.size(); i += 76)
        lines.push_back(b64.substr(i, 76));
    lines.insert(lines.end(), {"--zz", "Content-Type: image/svg+xml; name=\"pic\\\".svg\"", "",
                               "<svg xmlns=\"http://www.w3.org/2000/svg\" onload=\"alert(1)\"/>", "--zz",
                               "Content-Type: text/html; name*=utf-8''bad%0D%0ASet-Cookie%3A%20x%3Dy.html", "",
                               "<script>alert(1)</script>", "--zz--"});
    return crlf(lines);
}

TEST_F(Views, DownloadsAreTheDecodedPartAndNeverRunInTheBrowser)
{
    std::string binary;
    for (int i = 0; i < 70000; ++i)
        binary.push_back(static_cast<char>((i * 7919) >> 3));
    start();
    auto numbers = seed({Mail{attachment_mail(binary)}});
    Logon s = alice();
    std::string base = "View=Attachment&Number=" + std::to_string(numbers[0]);

    auto data = in_session(s, base + "&Filename=data.bin");
    EXPECT_EQ(data.body, binary);
    EXPECT_EQ(data.header("Content-type"), "application/octet-stream");
    EXPECT_EQ(data.header("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(data.header("Content-Security-Policy"), "default-src 'none'; sandbox");
    EXPECT_EQ(data.header("Content-Disposition"), "attachment; filename=\"data.bin\"");

    // Filename wins over CID; CID alone finds its part.
    EXPECT_EQ(in_session(s, base + "&Filename=second.txt&CID=c1@x").body, "second part\r\n");
    EXPECT_EQ(in_session(s, base + "&CID=c1@x").body, "first part\r\n");
    auto text_part = in_session(s, base + "&CID=c2@x");
    EXPECT_EQ(text_part.header("Content-Disposition"), "");

    // Active types are downloads under a name that carries no header syntax.
    auto svg = in_session(s, base + "&Filename=pic\".svg");
    EXPECT_EQ(svg.header("Content-type"), "image/svg+xml");
    EXPECT_EQ(svg.header("Content-Disposition"), "attachment; filename=\"pic_.svg\"; filename*=UTF-8''pic%22.svg");
    auto html = in_session(s, base + "&Filename=bad%20%20Set-Cookie:%20x=y.html");
    EXPECT_TRUE(html.header_complete);
    EXPECT_EQ(html.header("Set-Cookie"), "");
    EXPECT_EQ(html.header("Content-Disposition").rfind("attachment; filename=\"bad  Set-Cookie: x=y.html\"", 0), 0u)
        << html.header("Content-Disposition");
    EXPECT_EQ(html.body, "<script>alert(1)</script>\r\n");

    // Nothing to send: a complete, empty answer.
    for (const char* query : {"&CID=nothing", "&Filename=..%2F..%2FUser.ini", "&Filename=", ""}) {
        SCOPED_TRACE(query);
        auto none = in_session(s, base + query);
        EXPECT_TRUE(none.header_complete);
        EXPECT_EQ(none.body, "");
    }
}

TEST_F(Views, AMessageNotYetFetchedAsksForItsRetrieval)
{
    start();
    auto numbers = seed({Mail{text_mail("header only").text, "Inbox", "Home", "uid-9", 0, store::flags::downloaded}});
    Logon s = alice(mailbox_section(1, "Home", 0));
    auto message = in_session(s, "View=Message&Number=" + std::to_string(numbers[0]));
    EXPECT_NE(message.body.find("Fetching the message"), std::string::npos) << message.body.substr(0, 300);
}

TEST_F(Views, DraftsOpenInTheComposePage)
{
    start();
    auto numbers = seed({Mail{text_mail("my draft").text, "Drafts", "", "", store::flags::draft}});
    Logon s = alice();
    auto page = in_session(s, "View=Message&Number=" + std::to_string(numbers[0]));
    EXPECT_NE(page.body.find("name=\"Subject\""), std::string::npos) << page.body.substr(0, 300);
    EXPECT_NE(page.body.find("value=\"my draft\""), std::string::npos);
}

}  // namespace
}  // namespace corvane::features::test

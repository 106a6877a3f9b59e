// Messages stored by the real receiver, shown by the renderer: what the
// page gets for each kind of body, and which parts are inline.
#include "engine/store/render/body_renderer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/platform/files.h"
#include "common/text/base64.h"
#include "engine/store/receiver/message_receiver.h"
#include "tests/support/temp_dir.h"

namespace corvane::render {
namespace {

std::string crlf(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& l : lines)
        out += l + "\r\n";
    return out;
}

class BodyRendererTest : public ::testing::Test {
protected:
    BodyRendererTest()
    {
        types.add_text("text/plain txt\ntext/html html\nimage/png png\nmessage/rfc822 eml\n");
        options.types = &types;
        context.script_name = "/Corvane";
        context.session_id = "ABCDEFG";
    }

    // Stores text as a message file and reads it back as the receiver does.
    receiver::MessageReceiver::Scan store(const std::string& text)
    {
        path = dir / ("m" + std::to_string(++count) + ".msg");
        EXPECT_TRUE(platform::write_file_atomic(path, text).ok());
        auto scan = receiver::MessageReceiver::scan_file(path, options);
        EXPECT_TRUE(scan.has_value());
        return scan ? *scan : receiver::MessageReceiver::Scan{};
    }

    // The page output of a message: the inline parts, or the whole body.
    std::string show(const std::string& text, std::string_view preferred = "text/html", RenderReport* report = nullptr)
    {
        auto scan = store(text);
        StringSink sink;
        RenderReport r;
        if (scan.entry.has(store::flags::multipart)) {
            for (const store::PartRecord& part : scan.parts) {
                if (is_inline(scan.parts, part, preferred, 20))
                    r = render_part(path, part, context, sink);
            }
        } else {
            r = render_message(path, context, sink);
        }
        if (report)
            *report = r;
        return sink.text;
    }

    testing::TempDir dir;
    std::string path;
    int count = 0;
    mime_types::MimeTypeTable types;
    receiver::ReceiverOptions options;
    RenderContext context;
};

const std::string kAlternative = crlf({
    "Subject: alt",
    "MIME-Version: 1.0",
    "Content-Type: multipart/alternative; boundary=\"b1\"",
    "",
    "--b1",
    "Content-Type: text/plain; charset=us-ascii",
    "",
    "plain version",
    "--b1",
    "Content-Type: text/html; charset=us-ascii",
    "",
    "<html><body><p>html version</p></body></html>",
    "--b1--",
});

TEST_F(BodyRendererTest, PlainTextIsEscapedLinkedAndConverted)
{
    std::string page = show(crlf({"Subject: t", "Content-Type: text/plain; charset=iso-8859-1",
                                  "Content-Transfer-Encoding: quoted-printable", "", "Caf=E9 <b>  at www.example.org,",
                                  "write to ann@example.org=", "."}));
    EXPECT_EQ(page,
              "<div class=\"cv-text\">Caf\xC3\xA9 &lt;b&gt; &nbsp;at <A HREF=\"http://www.example.org\" "
              "TARGET=\"_blank\" REL=\"noopener noreferrer\">www.example.org</A>,<BR>\r\nwrite to <A "
              "HREF=\"/Corvane?Session=ABCDEFG&amp;View=Compose&amp;To=ann%40example.org&amp;New=Yes\">"
              "ann@example.org</A>.<BR>\r\n</div>");

    // Japanese mail in ISO-2022-JP arrives as UTF-8.
    page = show(crlf({"Subject: j", "Content-Type: text/plain; charset=ISO-2022-JP", "", "\x1B$B$3$s$K$A$O\x1B(B"}));
    EXPECT_EQ(page,
              "<div class=\"cv-text\">\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF<BR>\r\n</div>");

    // A charset iconv does not know passes the bytes.
    page = show(crlf({"Subject: u", "Content-Type: text/plain; charset=x-no-such-charset", "", "a\xE9"}));
    EXPECT_EQ(page, "<div class=\"cv-text\">a\xE9<BR>\r\n</div>");

    // Without a session, addresses stay text.
    context.session_id.clear();
    page = show(crlf({"Subject: t", "", "ann@example.org"}));
    EXPECT_EQ(page, "<div class=\"cv-text\">ann@example.org<BR>\r\n</div>");
}

TEST_F(BodyRendererTest, HtmlShowsTheInsideOfItsBodySanitised)
{
    // Base64 with the body start tag on a line of its own.
    const std::string html =
        "<html><head><title>T</title>\r\n<style>p{color:red}</style></head>\r\n<BODY bgcolor=white>\r\n"
        "<p onclick=\"x()\">first</p><script>alert(1)</script>\r\n<img src=\"cid:logo@x\">\r\n</body>\r\n"
        "<p>after body</p></html>\r\n";
    std::string b64 = text::base64_encode(html);
    std::vector<std::string> lines = {"Subject: h", "Content-Type: text/html; charset=utf-8",
                                      "Content-Transfer-Encoding: base64", ""};
    for (std::size_t i = 0; i < b64.size(); i += 76)
        lines.push_back(b64.substr(i, 76));
    EXPECT_EQ(show(crlf(lines)),
              "<div class=\"cv-html\">\n<p>first</p>\n<img "
              "src=\"/Corvane?Session=ABCDEFG&amp;View=Attachment&amp;CID=logo%40x\">\n</div>");

    // Without a body tag the whole document is the message.
    EXPECT_EQ(show(crlf({"Subject: h", "Content-Type: text/html", "", "<title>x</title><p>all <img src=cid:a@b>"})),
              "<div class=\"cv-html\"><p>all <img src=\"/Corvane?Session=ABCDEFG&amp;View=Attachment&amp;CID=a%40b\">"
              "\n</p></div>");

    // A charset named only in the document itself.
    EXPECT_EQ(show(crlf({"Subject: h", "Content-Type: text/html", "",
                         "<meta charset=\"windows-1252\"><p>\x93quoted\x94</p>"})),
              "<div class=\"cv-html\"><p>\xE2\x80\x9Cquoted\xE2\x80\x9D</p>\n</div>");

    // Remote images stay out until asked for.
    RenderReport report;
    std::string remote = crlf({"Subject: r", "Content-Type: text/html", "", "<img src=\"https://img.example/a.png\">"});
    EXPECT_EQ(show(remote, "text/html", &report), "<div class=\"cv-html\"><img>\n</div>");
    EXPECT_TRUE(report.remote_images_blocked);
    context.allow_remote_images = true;
    EXPECT_EQ(show(remote, "text/html", &report),
              "<div class=\"cv-html\"><img src=\"https://img.example/a.png\">\n</div>");
}

TEST_F(BodyRendererTest, InlineDecisions)
{
    // The preferred alternative, both ways.
    EXPECT_EQ(show(kAlternative, "text/html"), "<div class=\"cv-html\"><p>html version</p></div>");
    EXPECT_EQ(show(kAlternative, "text/plain"), "<div class=\"cv-text\">plain version<BR>\r\n</div>");
    EXPECT_EQ(show(kAlternative, "image/png"), "<div class=\"cv-text\">plain version<BR>\r\n</div>");

    std::string big_line(100, 'x');
    std::vector<std::string> mixed = {
        "Subject: m", "Content-Type: multipart/mixed; boundary=zz", "", "--zz", "Content-Type: text/plain", ""};
    for (int i = 0; i < 300; ++i)
        mixed.push_back("body " + big_line);  // a 30 KB body of the message
    mixed.insert(mixed.end(), {"--zz", "Content-Type: text/plain; name=log.txt", ""});
    for (int i = 0; i < 300; ++i)
        mixed.push_back("log " + big_line);  // a 30 KB text attachment
    mixed.insert(mixed.end(),
                 {"--zz", "Content-Type: message/rfc822", "", "Subject: inner", "", "forwarded text", "--zz",
                  "Content-Type: message/delivery-status", "", "Status: 5.1.1", "--zz", "Content-Type: image/png",
                  "Content-Transfer-Encoding: base64", "", "iVBORw0KGgo=", "--zz--"});
    auto scan = store(crlf(mixed));
    ASSERT_EQ(scan.parts.size(), 5u);
    std::vector<bool> shown;
    for (const store::PartRecord& part : scan.parts)
        shown.push_back(is_inline(scan.parts, part, "text/html", 20));
    EXPECT_EQ(shown, (std::vector<bool>{true, false, false, true, false}));
    // With no size limit the text attachment is shown too.
    EXPECT_TRUE(is_inline(scan.parts, scan.parts[1], "text/html", 0));

    StringSink sink;
    render_part(path, scan.parts[3], context, sink);
    EXPECT_EQ(sink.text, "<div class=\"cv-text\">Status: 5.1.1<BR>\r\n</div>");
    // A picture has no text to show.
    sink.text.clear();
    render_part(path, scan.parts[4], context, sink);
    EXPECT_EQ(sink.text, "");
}

TEST_F(BodyRendererTest, DownloadsGiveTheDecodedBytes)
{
    std::string binary;
    for (int i = 0; i < 5000; ++i)
        binary.push_back(static_cast<char>((i * 37) & 0xFF));
    std::string b64 = text::base64_encode(binary);
    std::vector<std::string> lines = {"Subject: b",
                                      "Content-Type: multipart/mixed; boundary=q",
                                      "",
                                      "--q",
                                      "Content-Type: text/plain",
                                      "",
                                      "see attachment",
                                      "--q",
                                      "Content-Type: application/octet-stream; name=data.bin",
                                      "Content-Transfer-Encoding: base64",
                                      ""};
    for (std::size_t i = 0; i < b64.size(); i += 76)
        lines.push_back(b64.substr(i, 76));
    lines.push_back("--q--");
    auto scan = store(crlf(lines));
    ASSERT_EQ(scan.parts.size(), 2u);
    StringSink sink;
    ASSERT_TRUE(write_decoded_part(path, scan.parts[1], sink));
    EXPECT_EQ(sink.text, binary);
    EXPECT_FALSE(write_decoded_part(dir / "missing.msg", scan.parts[1], sink));
}

TEST_F(BodyRendererTest, BadInputIsAnsweredAndBounded)
{
    // A part of 100,000 lines.
    std::vector<std::string> lines = {"Subject: long", ""};
    for (int i = 0; i < 100000; ++i)
        lines.push_back("l");
    std::string page = show(crlf(lines));
    EXPECT_EQ(page.size(), std::string("<div class=\"cv-text\"></div>").size() + 100000 * 7);

    // Five megabytes of nested tags.
    std::string deep;
    for (int i = 0; i < 5 * 1024 * 1024 / 5; ++i)
        deep += "<div>";
    RenderReport report;
    page = show(crlf({"Subject: deep", "Content-Type: text/html", "", deep + "end"}), "text/html", &report);
    EXPECT_TRUE(report.truncated);
    EXPECT_LT(page.size(), 10000u);

    // A missing file renders nothing.
    StringSink sink;
    EXPECT_FALSE(render_message(dir / "missing.msg", context, sink).opened);
    EXPECT_EQ(sink.text, "");
}

}  // namespace
}  // namespace corvane::render

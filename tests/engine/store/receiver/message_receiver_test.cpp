#include "engine/store/receiver/message_receiver.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/text/strings.h"
#include "engine/store/message_index/part_list_file.h"
#include "tests/engine/store/receiver/receiver_fixture.h"

namespace corvane::receiver {
namespace {

using store::PartRecord;
namespace flags = store::flags;

const std::vector<std::string> plain_message = {
    "Received: from relay by mx; Tue, 15 Jun 1999 11:00:00 +0000",
    "From: =?iso-8859-1?Q?Andr=E9_X?= <andre@example.org>",
    "To: jo@example.com",
    "Subject: a subject folded",
    "  over three",
    "\tlines",
    "Date: Tue, 15 Jun 1999 10:20:30 -0500",
    "X-Priority: 1 (Highest)",
    "Disposition-Notification-To: andre@example.org",
    "",
    "Hello,",
    "",
    "-- ",
    "Andre",
};

TEST_F(ReceiverTest, PlainMessageFromAMailbox)
{
    std::string text = crlf(plain_message);
    store::MessageEntry* entry = from_mailbox(text);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->from, "Andr\xc3\xa9 X <andre@example.org>");
    EXPECT_EQ(entry->subject, "a subject folded over three lines");
    EXPECT_EQ(entry->to, "jo@example.com");
    EXPECT_EQ(entry->date, 929460030u);
    EXPECT_EQ(entry->size, text.size());
    EXPECT_EQ(entry->folder, "Inbox");
    EXPECT_EQ(entry->mailbox, "Home");
    EXPECT_EQ(entry->server_id, "uid-1");
    EXPECT_EQ(entry->number, 1u);
    EXPECT_EQ(entry->file_name, "CV000001");
    EXPECT_EQ(entry->flags, flags::new_message | flags::urgent | flags::confirm_requested | flags::downloaded);
    EXPECT_EQ(keep, std::vector<std::string>{"uid-1"});
    EXPECT_EQ(file_of(*entry), text);
    EXPECT_FALSE(platform::exists(index.part_list_path(*entry)));
    EXPECT_TRUE(index.dirty());

    // The date of the first Received header when the settings ask for it.
    options.use_received_date = true;
    store::MessageEntry* second = from_mailbox(text, "uid-2");
    EXPECT_EQ(second->date, 929444400u);
    EXPECT_EQ(second->number, 2u);
    // Nothing is left behind but the two messages.
    auto left = platform::list_directory(dir.path());
    for (const auto& e : *left)
        EXPECT_NE(e.name.front(), '.') << e.name;
}

TEST_F(ReceiverTest, OnePieceBytesAndLinesGiveTheSameResult)
{
    std::string message = crlf({"From: a@x", "Subject: parts", "Content-Type: multipart/mixed; boundary=\"XX\"", "",
                                "preamble", "--XX", "Content-Type: text/plain", "", "body line", "--XX",
                                "Content-Type: application/octet-stream; name=\"d.bin\"",
                                "Content-Transfer-Encoding: base64", "", "AAECAwQF", "--XX--", "epilogue"});
    message += "no final line end";
    std::vector<std::string> results;
    std::vector<store::PartList> parts;
    for (int mode = 0; mode < 3; ++mode) {
        MessageReceiver receiver(index, "Inbox", options);
        receiver.begin(0, StoreMode::whole);
        if (mode == 0) {
            receiver.write(message);
        } else if (mode == 1) {
            for (char c : message)
                receiver.write(std::string_view(&c, 1));
        } else {
            std::size_t pos = 0;
            while (pos <= message.size()) {
                std::size_t end = message.find("\r\n", pos);
                if (end == std::string::npos) {
                    receiver.line(std::string_view(message).substr(pos));
                    break;
                }
                receiver.line(std::string_view(message).substr(pos, end - pos));
                pos = end + 2;
            }
        }
        store::MessageEntry* entry = receiver.finish();
        ASSERT_NE(entry, nullptr);
        results.push_back(file_of(*entry));
        parts.push_back(receiver.parts());
        EXPECT_EQ(entry->subject, "parts");
        EXPECT_EQ(entry->size, message.size() + 2);
    }
    EXPECT_EQ(results[0], message + "\r\n");
    EXPECT_EQ(results[1], results[0]);
    EXPECT_EQ(results[2], results[0]);
    ASSERT_EQ(parts[0].size(), 2u);
    EXPECT_EQ(parts[1], parts[0]);
    EXPECT_EQ(parts[2], parts[0]);
}

TEST_F(ReceiverTest, NestedAlternativeIsNumberedAtTheOuterLevel)
{
    store::MessageEntry* entry = into_folder({
        "From: a@x",
        "Content-Type: multipart/mixed; boundary=outer",
        "",
        "This is a multi-part message.",
        "--outer",
        "Content-Type: text/plain; charset=us-ascii",
        "",
        "first part",
        "--outer",
        "Content-Type: multipart/alternative;",
        "  boundary=\"inner\"",
        "",
        "--inner",
        "Content-Type: text/plain",
        "Content-Transfer-Encoding: quoted-printable",
        "",
        "caf=C3=A9 =",
        "ok",
        "--inner",
        "Content-Type: text/html",
        "",
        "<p>caf&eacute;</p>",
        "--inner--",
        "",
        "--outer",
        "Content-Type: application/pdf; name=\"r.pdf\"",
        "Content-Transfer-Encoding: base64",
        "Content-ID: < pdf@x >",
        "",
        "JVBERi0xLjQK",
        "--outer--",
    });
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->has(flags::multipart));
    EXPECT_TRUE(entry->has(flags::downloaded));
    auto parts = store::read_part_list(index.part_list_path(*entry));
    ASSERT_TRUE(parts);
    ASSERT_EQ(parts->size(), 4u);
    const PartRecord& a = (*parts)[0];
    const PartRecord& b = (*parts)[1];
    const PartRecord& c = (*parts)[2];
    const PartRecord& d = (*parts)[3];
    EXPECT_EQ(std::pair(a.part_number, a.sub_part), std::pair(1, 0));
    EXPECT_EQ(std::pair(b.part_number, b.sub_part), std::pair(2, 1));
    EXPECT_EQ(std::pair(c.part_number, c.sub_part), std::pair(2, 2));
    EXPECT_EQ(std::pair(d.part_number, d.sub_part), std::pair(3, 0));
    EXPECT_EQ(a.content_type, "text/plain");
    EXPECT_EQ(a.file_name, "ATT00001.txt");
    EXPECT_EQ(c.content_type, "text/html");
    EXPECT_EQ(c.file_name, "ATT00003.htm");
    EXPECT_EQ(d.file_name, "r.pdf");
    EXPECT_EQ(d.content_id, "pdf@x");
    EXPECT_EQ(d.transfer_encoding, "base64");
    EXPECT_EQ(d.line_count, 1);
    EXPECT_EQ(d.decoded_size, (12 + 2) * 57 / 78);
    EXPECT_EQ(b.decoded_size, (11 + 2 + 2 + 2) * 73 / 78);

    EXPECT_EQ(decode(*entry, a), "first part\r\n");
    EXPECT_EQ(decode(*entry, b), "caf\xc3\xa9 ok\r\n");
    EXPECT_EQ(decode(*entry, c), "<p>caf&eacute;</p>\r\n");
    EXPECT_EQ(decode(*entry, d), "%PDF-1.4\n");
}

TEST_F(ReceiverTest, AlternativeMessageIsRenumbered)
{
    store::MessageEntry* entry =
        into_folder({"Content-Type: multipart/alternative; boundary=b", "", "--b", "Content-Type: text/plain", "",
                     "text", "--b", "Content-Type: text/html", "", "<b>html</b>", "--b--"});
    const store::PartList& parts = part_list(index, *entry, options);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(std::pair(parts[0].part_number, parts[0].sub_part), std::pair(1, 1));
    EXPECT_EQ(std::pair(parts[1].part_number, parts[1].sub_part), std::pair(1, 2));
}

TEST_F(ReceiverTest, SinglePartAttachmentAndDefaults)
{
    // A single part of another type is one part record from the header.
    store::MessageEntry* pdf = into_folder({"Content-Type: application/pdf", "Content-Transfer-Encoding: base64",
                                            "Content-Disposition: attachment; filename=\"scan.pdf\"", "",
                                            "JVBERi0xLjQK", "-----BEGIN not a boundary", "JVBERi0xLjQK"});
    ASSERT_TRUE(pdf->has(flags::multipart));
    const store::PartList& parts = part_list(index, *pdf, options);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(std::pair(parts[0].part_number, parts[0].sub_part), std::pair(0, 0));
    EXPECT_EQ(parts[0].file_name, "scan.pdf");
    EXPECT_EQ(parts[0].line_count, 3);

    // Parts without a type: octet-stream, or plain text inside a report;
    // an octet-stream part named with a known extension takes its type.
    store::MessageEntry* mixed =
        into_folder({"Content-Type: multipart/mixed; boundary=b", "", "--b", "", "no header", "--b",
                     "Content-Type: application/octet-stream; name=photo.png", "", "x", "--b",
                     "Content-Type: application/octet-stream; name=data.unknown", "", "y", "--b--"});
    const store::PartList& m = part_list(index, *mixed, options);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].content_type, "application/octet-stream");
    EXPECT_EQ(m[0].file_name, "ATT00001.att");
    EXPECT_EQ(m[1].content_type, "image/png");
    EXPECT_EQ(m[2].content_type, "application/octet-stream");

    store::MessageEntry* report =
        into_folder({"Content-Type: multipart/report; boundary=b", "", "--b", "", "Delivery failed", "--b--"});
    EXPECT_EQ(part_list(index, *report, options)[0].content_type, "text/plain");

    // A multipart message without a usable boundary is no multipart.
    store::MessageEntry* broken = into_folder({"Content-Type: multipart/mixed", "", "text"});
    EXPECT_FALSE(broken->has(flags::multipart));
    EXPECT_TRUE(part_list(index, *broken, options).empty());
    // Nor is one whose boundary never occurs: its text would be hidden.
    store::MessageEntry* unused = into_folder({"Content-Type: multipart/mixed; boundary=B_", "", "--B", "text"});
    EXPECT_FALSE(unused->has(flags::multipart));
    EXPECT_FALSE(platform::exists(index.part_list_path(*unused)));
}

TEST_F(ReceiverTest, UuencodedBlockBecomesAPart)
{
    store::MessageEntry* entry = into_folder(
        {"From: a@x", "Subject: files", "", "Here it is:", "", "begin 644 file.zip", "#86)C", "`", "end", "", "bye"});
    ASSERT_TRUE(entry->has(flags::multipart));
    const store::PartList& parts = part_list(index, *entry, options);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].part_number, 0);
    EXPECT_EQ(parts[0].content_type, "text/plain");
    EXPECT_EQ(parts[0].file_name, "ATT00001.txt");
    EXPECT_EQ(parts[0].line_count, 2);
    EXPECT_EQ(parts[1].part_number, 1);
    EXPECT_EQ(parts[1].file_name, "file.zip");
    EXPECT_EQ(parts[1].transfer_encoding, "uuencode");
    EXPECT_EQ(parts[1].content_type, "application/zip");
    EXPECT_EQ(parts[1].line_count, 2);
    EXPECT_EQ(decode(*entry, parts[1]), "abc");
    EXPECT_EQ(parts[2].part_number, 2);
    EXPECT_EQ(decode(*entry, parts[0]), "Here it is:\r\n\r\n");
    EXPECT_EQ(decode(*entry, parts[2]), "bye\r\n");

    // The part list is found again from the message file alone.
    ASSERT_TRUE(platform::remove_file(index.part_list_path(*entry)).ok());
    store::PartList again = MessageReceiver::rescan(index, *entry, options).value();
    EXPECT_EQ(again, parts);

    // Without "end" there is no uuencoded part.
    store::MessageEntry* half = into_folder({"Subject: x", "", "begin 644 a.zip", "M86)C"});
    EXPECT_FALSE(half->has(flags::multipart));

    // Also after the closing boundary of a multipart that has no usable one.
    store::MessageEntry* after =
        into_folder({"Content-Type: multipart/mixed", "", "text", "begin 600 b.bin", "#86)C", "end"});
    EXPECT_TRUE(after->has(flags::multipart));
    EXPECT_EQ(part_list(index, *after, options).size(), 2u);
}

TEST_F(ReceiverTest, RescanGivesTheListOfArrival)
{
    store::MessageEntry* entry = into_folder(
        {"Content-Type: multipart/mixed; boundary=\"=_a\"", "", "--=_a", "Content-Type: text/plain", "", "one", "two",
         "--=_a", "Content-Type: image/png", "Content-Transfer-Encoding: base64", "", "iVBORw0KGgo=", "--=_a--"});
    store::PartList arrived = *store::read_part_list(index.part_list_path(*entry));
    ASSERT_EQ(arrived.size(), 2u);
    ASSERT_TRUE(platform::remove_file(index.part_list_path(*entry)).ok());
    entry->parts.reset();
    EXPECT_EQ(part_list(index, *entry, options), arrived);
    EXPECT_EQ(*store::read_part_list(index.part_list_path(*entry)), arrived);
    // Cached from now on.
    EXPECT_EQ(&part_list(index, *entry, options), &*entry->parts);
}

TEST_F(ReceiverTest, FiltersChooseTheFolder)
{
    ASSERT_TRUE(filters.add("Y T C \"@lists.org\" \"lists\""));
    ASSERT_TRUE(filters.add("Y S C \"gone\" \"No Such Folder\""));
    store::MessageEntry* listed = from_mailbox(crlf({"To: dev@lists.org", "", "x"}), "u1");
    EXPECT_EQ(listed->folder, "Lists");
    EXPECT_TRUE(platform::exists(dir / "Lists/CV000001.msg"));
    store::MessageEntry* missing = from_mailbox(crlf({"Subject: gone", "", "x"}), "u2");
    EXPECT_EQ(missing->folder, "Inbox");
    EXPECT_TRUE(platform::exists(dir / "Inbox/CV000002.msg"));
}

TEST_F(ReceiverTest, HeaderOnlyThenSingleRetrieval)
{
    std::string message = crlf({"From: a@x", "Content-Type: multipart/mixed; boundary=b", "", "--b",
                                "Content-Type: text/plain", "", "hi", "--b--"});
    MessageReceiver top(index, MessageReceiver::FromMailbox{"Home", "u9", &keep, FilterContext{&filters, &folders}},
                        options);
    top.begin(50000, StoreMode::header_only);
    top.line("From: a@x");
    top.line("Content-Type: multipart/mixed; boundary=b");
    EXPECT_TRUE(top.header_pending());
    top.line("");
    EXPECT_FALSE(top.header_pending());
    store::MessageEntry* entry = top.finish();
    ASSERT_NE(entry, nullptr);
    EXPECT_FALSE(entry->has(flags::downloaded));
    EXPECT_TRUE(entry->has(flags::multipart));
    EXPECT_EQ(entry->size, 50000u);
    EXPECT_FALSE(platform::exists(index.message_path(*entry)));

    MessageReceiver single(index, *entry, options);
    single.begin(entry->size, StoreMode::whole);
    single.write(message);
    EXPECT_EQ(single.finish(), entry);
    EXPECT_TRUE(entry->has(flags::downloaded));
    EXPECT_EQ(entry->size, 50000u);
    EXPECT_EQ(file_of(*entry), message);
    EXPECT_EQ(part_list(index, *entry, options).size(), 1u);
    EXPECT_EQ(index.size(), 1u);
}

TEST_F(ReceiverTest, InterruptedStoreIsDiscarded)
{
    {
        MessageReceiver receiver(index, MessageReceiver::FromMailbox{"Home", "u5", &keep, {&filters, &folders}},
                                 options);
        receiver.begin(100000, StoreMode::whole);
        receiver.write(crlf({"From: a@x", "Subject: cut", "", "first half"}));
    }
    ASSERT_EQ(index.size(), 1u);
    store::MessageEntry& entry = *index.entries()[0];
    EXPECT_EQ(entry.subject, "cut");
    EXPECT_FALSE(entry.has(flags::downloaded));
    EXPECT_EQ(keep, std::vector<std::string>{"u5"});
    EXPECT_FALSE(platform::exists(dir / "Inbox/CV000001.msg"));

    // Cut before the header ended: nothing is left at all.
    {
        MessageReceiver receiver(index, "Inbox", options);
        receiver.begin(0, StoreMode::whole);
        receiver.line("From: a@x");
    }
    EXPECT_EQ(index.size(), 1u);
    auto listing = platform::list_directory(dir.path());
    for (const auto& e : *listing)
        EXPECT_NE(e.name.front(), '.') << e.name;
}

TEST_F(ReceiverTest, FilesTheIndexDoesNotKnowAreNeverOverwritten)
{
    // What a crash leaves: a message whose entry was never written, and a
    // part list whose message is gone. The load notices both.
    ASSERT_TRUE(platform::write_file_atomic(dir / "Inbox/CV000001.msg", "Subject: orphan\r\n\r\n").ok());
    ASSERT_TRUE(platform::write_file_atomic(dir / "Inbox/CV000002.att", "stale\x01").ok());
    index.open(dir.path());
    ASSERT_EQ(index.unindexed().size(), 1u);
    EXPECT_FALSE(platform::exists(dir / "Inbox/CV000002.att"));

    store::MessageEntry* entry = into_folder({"Subject: new", "", "body"});
    EXPECT_EQ(entry->number, 2u);
    EXPECT_EQ(entry->file_name, "CV000002");
    EXPECT_EQ(file_of(*entry), crlf({"Subject: new", "", "body"}));
    EXPECT_EQ(platform::read_file(dir / "Inbox/CV000001.msg").value(), "Subject: orphan\r\n\r\n");

    // One put there while the session runs is passed over the same way.
    ASSERT_TRUE(platform::write_file_atomic(dir / "Inbox/CV000003.msg", "Subject: by hand\r\n\r\n").ok());
    entry = into_folder({"Subject: newer", "", "body"});
    EXPECT_EQ(entry->file_name, "CV000004");
    EXPECT_EQ(platform::read_file(dir / "Inbox/CV000003.msg").value(), "Subject: by hand\r\n\r\n");
}

TEST_F(ReceiverTest, MessageWithoutHeaderEndOrFolder)
{
    // No empty line at all: the header ends with the message and the file
    // is the message as it came.
    store::MessageEntry* entry = into_folder({"Subject: only a header", "X-Other: 1"});
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->subject, "only a header");
    EXPECT_TRUE(entry->has(flags::downloaded));
    EXPECT_EQ(file_of(*entry), crlf({"Subject: only a header", "X-Other: 1"}));

    // The folder has gone: the entry is made, nothing is stored.
    store::MessageEntry* lost = into_folder({"Subject: nowhere", "", "body"}, "Vanished");
    ASSERT_NE(lost, nullptr);
    EXPECT_EQ(lost->folder, "Vanished");
    EXPECT_FALSE(lost->has(flags::downloaded));
    EXPECT_FALSE(platform::exists(dir / "Vanished"));
}

// A disk that refuses the rest of the message: the entry is not marked
// downloaded and no partial file is left.
TEST_F(ReceiverTest, WriteFailureIsNotASuccess)
{
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{200000, 200000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        MessageReceiver receiver(index, "Inbox", options);
        receiver.begin(0, StoreMode::whole);
        receiver.line("Subject: big");
        receiver.line("");
        std::string body(1000, 'x');
        for (int i = 0; i < 1000; ++i)
            receiver.line(body);
        store::MessageEntry* entry = receiver.finish();
        bool ok = entry && !entry->has(flags::downloaded) && !platform::exists(dir / "Inbox/CV000001.msg");
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace corvane::receiver

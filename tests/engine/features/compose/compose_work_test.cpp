#include "engine/features/compose/compose_work.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/log/log_file.h"
#include "common/mime_types/mime_type_table.h"
#include "common/platform/files.h"
#include "engine/core/cgi/field_table.h"
#include "engine/store/addrbook/address_book.h"
#include "engine/store/message_index/folder_list.h"
#include "engine/store/message_index/message_index.h"
#include "tests/support/temp_dir.h"

namespace corvane::compose {
namespace {

class NullLog final : public log::Logger {
public:
    void write_raw(std::string_view) override {}
    void flush() override {}
    int threshold() const override { return 6; }

protected:
    void write_message(std::string_view) override {}
};

std::string read(const std::string& path)
{
    auto text = platform::read_file(path);
    return text ? *text : std::string("<missing>");
}

const std::string kLong(100, 'q');

// A message as a mailbox delivers it: text in Latin-1 quoted-printable, a
// picture, a part without a name.
std::string original_message()
{
    return "From: Ann <ann@x.org>\r\n"
           "To: \"Jo\" <jo@corvane.test>, bob@x.org, Carl <carl@x.org>\r\n"
           "CC: ANN@X.ORG\r\n"
           "Subject: RE: plans\r\n"
           "Date: Tue, 07 Mar 2023 09:05:03 +0100\r\n"
           "Message-ID: <m1@x.org>\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"b1\"\r\n"
           "\r\n"
           "--b1\r\n"
           "Content-Type: text/plain; charset=iso-8859-1\r\n"
           "Content-Transfer-Encoding: quoted-printable\r\n"
           "\r\n"
           "Gr=FC=DFe\r\n" +
           kLong +
           "\r\n"
           "--b1\r\n"
           "Content-Type: image/png; name=\"report.png\"\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"report.png\"\r\n"
           "\r\n"
           "iVBORw0KGgo=\r\n"
           "--b1\r\n"
           "Content-Type: application/pdf\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "\r\n"
           "JVBERg==\r\n"
           "--b1--\r\n";
}

class ComposeWorkTest : public ::testing::Test {
protected:
    ComposeWorkTest() : folders(user.path())
    {
        EXPECT_TRUE(folders.build({"Inbox", "Drafts", "Sent", "Trash"}));
        index.open(user.path());
        types.add_text("image/png png\napplication/pdf pdf\n");
        mailboxes::MailboxRecord home, work;
        home.mailbox = "Home";
        home.full_name = "Jo";
        home.email = "jo@corvane.test";
        home.is_default = true;
        work.mailbox = "Work";
        work.email = "jo@work.test";
        mailbox_list.records() = {home, work};
        EXPECT_TRUE(platform::write_file_atomic(user / "Home.sig", "-- \r\nJo\r\n").ok());
        book.open(user.path());
        account.directory = user.path();
        account.index = &index;
        account.mailboxes = &mailbox_list;
        account.addresses = &book;
        account.receiver.types = &types;
    }

    store::MessageEntry* arrive(const std::string& message)
    {
        receiver::MessageReceiver r(index,
                                    receiver::MessageReceiver::FromMailbox{"Home", "uid", nullptr, {nullptr, &folders}},
                                    account.receiver);
        r.begin(static_cast<std::uint32_t>(message.size()), receiver::StoreMode::whole);
        r.write(message);
        return r.finish();
    }

    testing::TempDir user;
    testing::TempDir temp;
    ComposeDirectory dir{temp / "ABCDEFG"};
    store::FolderList folders;
    store::MessageIndex index;
    mime_types::MimeTypeTable types;
    mailboxes::MailboxList mailbox_list;
    addrbook::AddressBook book;
    ComposeAccount account;
    cgi::FieldTable fields;
    NullLog log;
};

TEST_F(ComposeWorkTest, RepliesAndForwardsQuoteAndAddress)
{
    store::MessageEntry* original = arrive(original_message());
    ASSERT_NE(original, nullptr);
    ASSERT_TRUE(original->has(store::flags::multipart));
    const std::string number = std::to_string(original->number);
    const std::string quoted =
        "\n-- \nJo\n\n\n-----Original Message-----\nFrom: Ann <ann@x.org>\n"
        "To: \"Jo\" <jo@corvane.test>, bob@x.org, Carl <carl@x.org>\n"
        "Date: Tue, 07 Mar 2023 09:05:03 +0100\nSubject: RE: plans\n\n";
    struct Case {
        ComposeType type;
        std::string to, subject, reply, forward, in_reply_to, body;
        std::vector<std::string> files;
    };
    const std::vector<Case> cases = {
        {ComposeType::reply,
         "\"Ann\" <ann@x.org>",
         "RE: plans",
         number,
         "",
         "<m1@x.org>",
         quoted + "> Grüße\n> " + kLong.substr(0, 69) + "\n> " + kLong.substr(69) + "\n",
         {".body.txt", ".headers.txt"}},
        {ComposeType::reply_all,
         "\"Ann\" <ann@x.org>, bob@x.org, \"Carl\" <carl@x.org>",
         "RE: plans",
         number,
         "",
         "<m1@x.org>",
         "",
         {".body.txt", ".headers.txt"}},
        {ComposeType::forward,
         "",
         "Fwd: RE: plans",
         "",
         number,
         "",
         quoted + "Grüße\n" + kLong.substr(0, 71) + "\n" + kLong.substr(71) + "\n",
         {".ATT00003.pdf", ".body.txt", ".headers.txt", ".report.png", "ATT00003.pdf", "report.png"}},
    };
    for (const Case& c : cases) {
        fields = cgi::FieldTable();
        fields.set("To", "stale@x.org");
        create_compose(dir, fields, account, original, c.type, "View=Compose", log);
        save_headers(dir, fields);
        EXPECT_EQ(fields.value("From"), "\"Jo\" <jo@corvane.test>");
        EXPECT_EQ(fields.value("Mailbox"), "Home");
        EXPECT_EQ(fields.value("To"), c.to);
        EXPECT_EQ(fields.value("Subject"), c.subject);
        EXPECT_EQ(fields.value("ReplyMessage"), c.reply);
        EXPECT_EQ(fields.value("ForwardMessage"), c.forward);
        EXPECT_EQ(fields.value("In-Reply-To"), c.in_reply_to);
        if (!c.body.empty()) {
            EXPECT_EQ(read(dir.body_path()), c.body);
        }
        std::vector<std::string> names;
        auto entries = platform::list_directory(dir.path());
        for (const auto& e : entries.value())
            names.push_back(e.name);
        EXPECT_EQ(names, c.files);
    }
    EXPECT_EQ(read(dir.file("report.png")), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(dir.content_type("report.png"), "image/png");
    EXPECT_EQ(read(dir.file("ATT00003.pdf")), "%PDF");  // the store names unnamed parts

    // "Fwd:" and "RE:" in any case are not doubled; the address book learns
    // the people replied to when the user wants it.
    account.add_replies_to_addr_book = true;
    store::MessageEntry* forwarded = arrive("From: b@x.org\r\nSubject: FWD: old\r\n\r\nhi\r\n");
    create_compose(dir, fields, account, forwarded, ComposeType::forward, "", log);
    EXPECT_EQ(fields.value("Subject"), "FWD: old");
    create_compose(dir, fields, account, original, ComposeType::reply_all, "", log);
    ASSERT_EQ(book.size(), 4u);
    addrbook::AddressBook saved;
    saved.open(user.path());
    EXPECT_EQ(saved.entries(), book.entries());
    EXPECT_TRUE(book.contains("Ann", "ann@x.org"));
    EXPECT_TRUE(book.contains("", "bob@x.org"));
}

TEST_F(ComposeWorkTest, NewComposeAndTheClearRule)
{
    fields.set("To", "pre@x.org");
    fields.set("Subject", "old");
    create_compose(dir, fields, account, nullptr, ComposeType::new_message, "Session=ABC&View=Compose&To=", log);
    EXPECT_EQ(fields.value("From"), "\"Jo\" <jo@corvane.test>");
    EXPECT_EQ(fields.value("To"), "pre@x.org");
    EXPECT_EQ(fields.value("Subject"), "");
    EXPECT_EQ(read(dir.body_path()), "\n-- \nJo\n");
    create_compose(dir, fields, account, nullptr, ComposeType::implicit, "View=Compose", log);
    EXPECT_EQ(fields.value("To"), "");
}

TEST_F(ComposeWorkTest, HeaderFileModesAndNumericFrom)
{
    fields.set("To", "a@x\r\nSourceMessage: 5");
    fields.set("ConfirmRead", "Yes");
    fields.set("Subject", "hello");
    save_headers(dir, fields);

    struct Case {
        const char* what;
        MergeMode mode;
        bool advanced;
        std::vector<std::pair<std::string, std::string>> form;
        std::vector<std::pair<std::string, std::string>> want;
    };
    const std::vector<Case> cases = {
        {"fill empty",
         MergeMode::fill_empty,
         false,
         {{"Subject", ""}, {"CC", "c@x"}},
         {{"Subject", "hello"}, {"CC", "c@x"}, {"ConfirmRead", "Yes"}, {"SourceMessage", ""}}},
        {"fill missing keeps what the form sent, empty or not",
         MergeMode::fill_missing,
         false,
         {{"Subject", ""}},
         {{"Subject", ""}, {"ConfirmRead", "Yes"}, {"To", "a@x  SourceMessage: 5"}}},
        {"an unticked box on Compose-Advanced stays off",
         MergeMode::fill_missing,
         true,
         {},
         {{"ConfirmRead", ""}, {"Subject", "hello"}}},
    };
    for (const Case& c : cases) {
        cgi::FieldTable form;
        for (const auto& [name, value] : c.form)
            form.set(name, value);
        merge_headers(dir, form, c.mode, c.advanced);
        for (const auto& [name, value] : c.want)
            EXPECT_EQ(form.value(name), value) << c.what << ": " << name;
    }

    struct From {
        const char* sent;
        const char* from;
        const char* mailbox;
    };
    const From froms[] = {
        {"1", "<jo@work.test>", "Work"},
        {"0", "\"Jo\" <jo@corvane.test>", "Home"},
        {"7", "\"Jo\" <jo@corvane.test>", "Home"},
        {"1a", "1a", ""},
        {"01", "01", ""},
    };
    for (const From& f : froms) {
        cgi::FieldTable form;
        form.set("From", f.sent);
        resolve_numeric_from(form, mailbox_list);
        EXPECT_EQ(form.value("From"), f.from) << f.sent;
        EXPECT_EQ(form.value("Mailbox"), f.mailbox) << f.sent;
    }
}

TEST_F(ComposeWorkTest, ADraftStoredAndOpenedAgainIsTheSameCompose)
{
    fields.set("From", "\"Jo\" <jo@corvane.test>");
    fields.set("To", "Ünal <u@x.org>");
    fields.set("BCC", "hidden@x.org");
    fields.set("Subject", "Entwurf für morgen");
    fields.set("ConfirmRead", "on");
    fields.set("ReplyMessage", "12");
    fields.set("Mailbox", "Work");
    ASSERT_TRUE(dir.write_body("Zeile eins\r\n.Zeile zwei\r\n" + std::string(1500, 'z')).ok());
    ASSERT_TRUE(platform::write_file_atomic(dir.file("plan.pdf"), std::string("%PDF\0\r\n", 7)).ok());
    BuildOptions options;
    options.mode = BuildMode::draft;
    options.types = &types;
    options.now = 1678176303;
    ASSERT_TRUE(build_message(dir, message_fields(fields, true), options).ok());
    store::MessageEntry* draft = store_message(dir, fields, account, "Drafts", true);
    ASSERT_NE(draft, nullptr);
    EXPECT_TRUE(draft->has(store::flags::draft));
    EXPECT_TRUE(draft->has(store::flags::downloaded));
    EXPECT_FALSE(draft->has(store::flags::new_message));
    EXPECT_EQ(draft->mailbox, "Work");
    EXPECT_EQ(draft->folder, "Drafts");

    cgi::FieldTable opened;
    open_draft(dir, opened, account, *draft, log);
    for (const char* name : {"From", "To", "BCC", "Subject", "ReplyMessage", "Mailbox"})
        EXPECT_EQ(opened.value(name), fields.value(name)) << name;
    EXPECT_EQ(opened.value("ConfirmRead"), "Yes");
    EXPECT_EQ(opened.value("ComposeUrgent"), "");
    EXPECT_EQ(opened.value("Advanced"), "Yes");
    EXPECT_EQ(opened.value("SourceMessage"), std::to_string(draft->number));
    // The text comes back with a line end after its last line.
    EXPECT_EQ(read(dir.body_path()), "Zeile eins\n.Zeile zwei\n" + std::string(1500, 'z') + "\n");
    EXPECT_EQ(read(dir.file("plan.pdf")), std::string("%PDF\0\r\n", 7));
    EXPECT_EQ(dir.content_type("plan.pdf"), "application/pdf");
}

}  // namespace
}  // namespace corvane::compose

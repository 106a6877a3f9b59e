// An engine with the shipped templates and a user whose store was filled
// through the real receiver, for the tests of the mailbox views and their
// tags.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/mime_types/mime_type_table.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/message_index/folder_list.h"
#include "engine/store/message_index/message_index.h"
#include "engine/store/receiver/message_receiver.h"
#include "tests/engine/core/dispatch/dispatch_fixture.h"

namespace corvane::features::test {

using dispatch::test::count_of;
using dispatch::test::EngineFixture;
using dispatch::test::Logon;
using testing::EngineResponse;

// "a\r\nb\r\n" from {"a", "b"}.
inline std::string crlf(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& l : lines)
        out += l + "\r\n";
    return out;
}

// A message as a mailbox would deliver it.
struct Mail {
    Mail(std::string text_, std::string folder_ = "Inbox", std::string mailbox_ = "", std::string server_id_ = "",
         std::uint32_t add_flags_ = 0, std::uint32_t remove_flags_ = 0)
        : text(std::move(text_)),
          folder(std::move(folder_)),
          mailbox(std::move(mailbox_)),
          server_id(std::move(server_id_)),
          add_flags(add_flags_),
          remove_flags(remove_flags_)
    {
    }
    std::string text;
    std::string folder;
    std::string mailbox;    // the mailbox record it came from, if any
    std::string server_id;  // its POP3 identifier, if any
    std::uint32_t add_flags;
    std::uint32_t remove_flags;
};

class MailFixture : public EngineFixture {
protected:
    std::string user_dir(const std::string& user = "alice") const { return host->users_dir() + "/" + user; }

    // Stores the messages into the user's store before the session loads it;
    // returns their numbers in order.
    std::vector<std::uint32_t> seed(const std::vector<Mail>& mails, const std::string& user = "alice")
    {
        std::vector<std::uint32_t> numbers;
        std::string dir = user_dir(user);
        EXPECT_TRUE(platform::make_directories(dir).ok());
        store::FolderList folders(dir);
        EXPECT_TRUE(folders.build({"Inbox", "Drafts", "Sent", "Trash"}));
        store::MessageIndex index;
        index.open(dir);
        mime_types::MimeTypeTable types;
        types.add_text(
            "text/plain txt\ntext/html html\nimage/png png\nimage/gif gif\napplication/pdf pdf\nmessage/rfc822 eml\n");
        receiver::ReceiverOptions options;
        options.types = &types;
        for (const Mail& mail : mails) {
            if (!folders.contains(mail.folder)) {
                EXPECT_TRUE(folders.create(mail.folder));
            }
            receiver::MessageReceiver receiver(index, mail.folder, options);
            // A message that is not downloaded was fetched as header only:
            // it has an entry but no file.
            const bool header_only = (mail.remove_flags & store::flags::downloaded) != 0;
            receiver.begin(static_cast<std::uint32_t>(mail.text.size()),
                           header_only ? receiver::StoreMode::header_only : receiver::StoreMode::whole);
            receiver.write(mail.text);
            store::MessageEntry* entry = receiver.finish();
            EXPECT_NE(entry, nullptr);
            if (!entry)
                continue;
            entry->mailbox = mail.mailbox;
            entry->server_id = mail.server_id;
            entry->flags = (entry->flags | mail.add_flags) & ~mail.remove_flags;
            index.mark_dirty();
            numbers.push_back(entry->number);
        }
        EXPECT_TRUE(index.save());
        return numbers;
    }

    // A plain text message.
    static Mail text_mail(const std::string& subject, const std::string& body = "Hello.",
                          const std::string& from = "Bob <bob@example.org>", const std::string& date = "")
    {
        std::vector<std::string> lines = {"From: " + from, "To: alice@example.org", "Subject: " + subject};
        if (!date.empty())
            lines.push_back("Date: " + date);
        lines.push_back("Content-Type: text/plain; charset=utf-8");
        lines.push_back("");
        lines.push_back(body);
        return Mail{crlf(lines)};
    }

    // Makes alice (with the extra User.ini lines) and logs her on; after
    // start() and seed(), since a session loads the store at its logon.
    Logon alice(const std::string& more_user_ini = "")
    {
        add_user("alice", "secret", more_user_ini);
        return logon("alice", "secret");
    }

    std::string index_text(const std::string& user = "alice")
    {
        auto text = platform::read_file(user_dir(user) + "/Messages.idx");
        return text.ok() ? text.value() : std::string();
    }
};

// A mailbox record for User.ini.
inline std::string mailbox_section(int n, const std::string& name, int delete_mode, const std::string& colour = "")
{
    std::string s = text::format("[MailHost%d]\nMailbox=%s\nHost=127.0.0.1\nUser=alice\nPass=-pw\nDelete=%d\n", n,
                                 name.c_str(), delete_mode);
    if (!colour.empty())
        s += "Color=" + colour + "\n";
    return s;
}

}  // namespace corvane::features::test

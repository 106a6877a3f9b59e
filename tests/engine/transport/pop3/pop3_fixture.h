// What the POP3 tests share: a user's store in a temporary directory, a log
// that keeps its lines, a mailbox record and quick looks at the store.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "common/codec/password_codec.h"
#include "common/ini/profile.h"
#include "common/log/log_file.h"
#include "common/platform/files.h"
#include "engine/store/user_mail/user_mail.h"
#include "engine/transport/pop3/pop3_session.h"
#include "tests/support/temp_dir.h"

namespace corvane::pop3::test {

class CaptureLog final : public log::Logger {
public:
    std::vector<std::string> lines;

    void write_raw(std::string_view bytes) override { lines.emplace_back(bytes); }
    void flush() override {}
    int threshold() const override { return 1; }

    bool has(std::string_view text) const { return count(text) > 0; }
    std::size_t count(std::string_view text) const
    {
        return static_cast<std::size_t>(std::count_if(
            lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; }));
    }
    // The commands sent, in order ("USER bob", "PASS ****", ...).
    std::vector<std::string> commands() const
    {
        std::vector<std::string> out;
        for (const auto& line : lines) {
            if (line.rfind("POP3 <<< ", 0) == 0)
                out.push_back(line.substr(9));
        }
        return out;
    }
    std::string all() const
    {
        std::string out;
        for (const auto& line : lines)
            out += line + "\n";
        return out;
    }

protected:
    void write_message(std::string_view message) override { lines.emplace_back(message); }
};

// One user's store: index, folders (Inbox, Drafts, Sent, Trash) and filters.
class UserStore {
public:
    UserStore()
    {
        ini::Profile engine(dir / "Corvane.ini");
        (void)platform::write_file_atomic(dir / "Corvane.ini", "[General]\n");
        (void)platform::make_directory(dir / "user");
        mail = std::make_unique<store::UserMail>(dir / "user");
        mail->load({"Inbox", "Drafts", "Sent", "Trash"}, engine, codec);
    }

    store::MessageIndex& index() { return mail->index(); }
    std::string user_dir() const { return mail->user_dir(); }

    std::vector<store::MessageEntry*> entries()
    {
        std::vector<store::MessageEntry*> out;
        for (auto& e : index().entries())
            out.push_back(e.get());
        return out;
    }
    std::string message_file(const store::MessageEntry& entry)
    {
        auto content = platform::read_file(index().message_path(entry), 1u << 30);
        return content ? *content : std::string();
    }
    // Files of the user directory whose names say they are half-made.
    std::vector<std::string> leftovers() const
    {
        std::vector<std::string> out;
        auto list = platform::list_directory(mail->user_dir());
        if (list) {
            for (const auto& e : *list) {
                if (e.name.find(".incoming") != std::string::npos)
                    out.push_back(e.name);
            }
        }
        return out;
    }
    std::vector<std::string> uid_file(std::string_view mailbox)
    {
        return read_uid_file(index().uid_file_path(mailbox));
    }

    testing::TempDir dir;
    codec::PasswordCodec codec{dir / "Corvane.key"};
    std::unique_ptr<store::UserMail> mail;
};

inline std::string with_crlf(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

// A message of about size bytes: a header, then lines of body text.
inline std::string sample_message(const std::string& subject, std::size_t size)
{
    std::string m = "From: Sender <sender@example.org>\nTo: user@example.org\nSubject: " + subject +
                    "\nDate: Tue, 14 Nov 2023 10:00:00 +0000\nMessage-ID: <" + subject + "@example.org>\n\n";
    std::size_t n = 0;
    while (m.size() < size)
        m += "Line " + std::to_string(++n) + " of the body, some words to fill it up a little.\n";
    return m;
}

}  // namespace corvane::pop3::test

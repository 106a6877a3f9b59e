// A user's store worked on by a process of its own, for the crash test to
// kill: the actions no page reaches yet (mail arriving, folder renames and
// deletions, the expiry of a session).
//
//   crash_worker receive USERDIR N       N messages from the mailbox "Home"
//   crash_worker rename USERDIR OLD NEW
//   crash_worker delete-folder USERDIR NAME
//   crash_worker expire USERDIR          the Trash emptied, the session ended
//
// Each loads the store as a session does, writes "go" when the work
// starts, and for every message it has stored, "stored <subject>" as soon
// as the receiver is done with it (unbuffered, so that a kill loses none
// of these lines); the index is written at the end, as a session does.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/codec/password_codec.h"
#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/user_mail/user_mail.h"

using namespace corvane;

namespace {

void say(const std::string& line)
{
    std::string out = line + "\n";
    (void)platform::write_all(STDOUT_FILENO, out);
}

// A message as a POP3 server hands it over; some with an attachment, some
// for the filter that sends mail to "Projects".
std::string arriving(int k)
{
    std::string subject = text::format("Arrival %d", k);
    if (k % 4 == 0)
        subject += " [project]";
    std::string m = "From: Sender <sender@example.com>\r\nTo: kim@example.com\r\nSubject: " + subject +
                    "\r\nDate: Tue, 15 Jun 1999 10:20:30 -0500\r\nMessage-ID: <" + std::to_string(k) +
                    "@example.com>\r\n";
    if (k % 3 == 0) {
        m += "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n"
             "See the file.\r\n--b\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
             "Content-Transfer-Encoding: base64\r\n\r\n";
        for (int line = 0; line < 40; ++line)
            m += "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5\r\n";
        m += "--b--\r\n";
    } else {
        m += "\r\n";
        for (int line = 0; line < 20; ++line)
            m += "An ordinary line of an ordinary message body, nothing more.\r\n";
    }
    return m;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const std::string action = argv[1];
    const std::string user_dir = argv[2];
    ini::Profile engine(user_dir + "/../Corvane.ini");
    codec::PasswordCodec codec(user_dir + "/../Corvane.key");
    store::UserMail mail(user_dir);
    (void)mail.load({"Inbox", "Drafts", "Sent", "Trash"}, engine, codec);
    say("go");

    if (action == "receive" && argc > 3) {
        std::vector<std::string> keep;
        const int count = std::atoi(argv[3]);
        for (int k = 1; k <= count; ++k) {
            std::string message = arriving(k);
            receiver::MessageReceiver receiver(
                mail.index(),
                receiver::MessageReceiver::FromMailbox{"Home", text::format("uid-%d", k), &keep, mail.filter_context()},
                {});
            receiver.begin(static_cast<std::uint32_t>(message.size()), receiver::StoreMode::whole);
            // In pieces, as a network hands them over.
            for (std::size_t at = 0; at < message.size(); at += 700)
                receiver.write(std::string_view(message).substr(at, 700));
            store::MessageEntry* entry = receiver.finish();
            if (entry && entry->has(store::flags::downloaded))
                say("stored " + entry->subject);
        }
        return mail.index().save() ? 0 : 1;
    }
    if (action == "rename" && argc > 4)
        return mail.rename_folder(argv[3], argv[4]) && mail.index().save() ? 0 : 1;
    if (action == "delete-folder" && argc > 3)
        return mail.delete_folder(argv[3]) ? 0 : 1;
    if (action == "expire") {
        (void)mail.empty_trash();
        (void)mail.end_session();
        return mail.index().save() ? 0 : 1;
    }
    return 2;
}

// Fills a user's message store for the browser tests and the benchmarks,
// through the same receiver that stores fetched mail, so part lists and
// index entries are what the engine itself would make.
//
//   corvane_seed_mail USER_DIR FOLDER FILE.eml ...
//   corvane_seed_mail USER_DIR FOLDER --generate COUNT [BODY_BYTES]
//
// The four fixed folders (Inbox, Drafts, Sent, Trash) and FOLDER are
// created when missing. Generated messages have varied senders, subjects
// (some with "Re:"), dates a few hours apart and plain text bodies.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/mime_types/mime_type_table.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/message_index/folder_list.h"
#include "engine/store/message_index/message_index.h"
#include "engine/store/receiver/message_receiver.h"

using namespace corvane;

namespace {

std::string generated(int n, std::size_t body_bytes)
{
    static const char* names[] = {"Ann Lee",    "Bob Stone",  "Chloé Martin", "Dmitri Ivanov", "Eve Adams",
                                  "Farah Khan", "Gus Miller", "Hana Sato",    "Ian Wright",    "Jörg Müller"};
    static const char* topics[] = {"quarterly report", "lunch on Friday",    "the release plan", "invoice 4711",
                                   "holiday photos",   "server maintenance", "meeting notes",    "a quick question"};
    const char* name = names[n % 10];
    std::string address = text::format("user%d@example.org", n % 37);
    std::time_t date = 1700000000 + static_cast<std::time_t>(n) * 3607;
    char date_text[64];
    std::tm tm{};
    gmtime_r(&date, &tm);
    std::strftime(date_text, sizeof date_text, "%a, %d %b %Y %H:%M:%S +0000", &tm);
    std::string subject = text::format("%s%s #%d", n % 3 == 0 ? "Re: " : "", topics[n % 8], n);
    std::string out = text::format(
        "From: \"%s\" <%s>\r\nTo: Demo User <demo@example.org>\r\nSubject: %s\r\nDate: %s\r\n"
        "Message-ID: <seed-%d@example.org>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n",
        name, address.c_str(), subject.c_str(), date_text, n);
    std::string line = text::format("Line of message %d with some words to read, see www.example.org. ", n);
    while (out.size() < body_bytes)
        out += line + "\r\n";
    return out;
}

bool store_message(store::MessageIndex& index, const std::string& folder, const receiver::ReceiverOptions& options,
                   const std::string& message)
{
    receiver::MessageReceiver receiver(index, folder, options);
    receiver.begin(static_cast<std::uint32_t>(message.size()), receiver::StoreMode::whole);
    receiver.write(message);
    return receiver.finish() != nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s USER_DIR FOLDER (FILE.eml ... | --generate COUNT [BODY_BYTES])\n", argv[0]);
        return 2;
    }
    std::string user_dir = argv[1];
    std::string folder = argv[2];
    if (!platform::make_directories(user_dir).ok())
        return 1;
    store::FolderList folders(user_dir);
    if (!folders.build({"Inbox", "Drafts", "Sent", "Trash"}))
        return 1;
    if (!folders.contains(folder) && !folders.create(folder))
        return 1;
    store::MessageIndex index;
    index.open(user_dir);
    mime_types::MimeTypeTable types;
    types.add_text(
        "text/plain txt\ntext/html html htm\nimage/png png\nimage/gif gif\nimage/jpeg jpg jpeg\n"
        "application/pdf pdf\napplication/octet-stream bin\nimage/svg+xml svg\nmessage/rfc822 eml\n");
    receiver::ReceiverOptions options;
    options.types = &types;

    int stored = 0;
    if (std::string(argv[3]) == "--generate") {
        int count = argc > 4 ? std::atoi(argv[4]) : 0;
        std::size_t body = argc > 5 ? static_cast<std::size_t>(std::atol(argv[5])) : 600;
        for (int n = 1; n <= count; ++n)
            stored += store_message(index, folder, options, generated(n, body));
    } else {
        for (int i = 3; i < argc; ++i) {
            auto text = platform::read_file(argv[i]);
            if (!text.ok()) {
                std::fprintf(stderr, "cannot read %s\n", argv[i]);
                return 1;
            }
            stored += store_message(index, folder, options, text.value());
        }
    }
    if (!index.save())
        return 1;
    std::printf("%d\n", stored);
    return 0;
}

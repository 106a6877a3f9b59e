// A user directory with folders, filters and a MIME table for receiver tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/platform/files.h"
#include "engine/store/message_index/store_files.h"
#include "engine/store/mime/line_decoders.h"
#include "engine/store/receiver/message_receiver.h"
#include "tests/support/temp_dir.h"

namespace corvane::receiver {

class ReceiverTest : public ::testing::Test {
protected:
    ReceiverTest() : folders(dir.path())
    {
        EXPECT_TRUE(folders.build(fixed));
        EXPECT_TRUE(folders.create("Lists"));
        EXPECT_TRUE(folders.build(fixed));
        index.open(dir.path());
        types.add_text(
            "application/pdf pdf\napplication/zip zip\ntext/plain txt\nimage/png png\n"
            "text/html htm html\nmessage/rfc822 eml\n");
        options.types = &types;
    }

    // Feeds a message from a mailbox through the filters.
    store::MessageEntry* from_mailbox(std::string_view message, std::string server_id = "uid-1",
                                      StoreMode mode = StoreMode::whole)
    {
        MessageReceiver receiver(
            index, MessageReceiver::FromMailbox{"Home", std::move(server_id), &keep, FilterContext{&filters, &folders}},
            options);
        receiver.begin(static_cast<std::uint32_t>(message.size()), mode);
        receiver.write(message);
        return receiver.finish();
    }

    // Feeds a local message into a folder, line by line.
    store::MessageEntry* into_folder(const std::vector<std::string>& lines, const std::string& folder = "Inbox")
    {
        MessageReceiver receiver(index, folder, options);
        receiver.begin(0, StoreMode::whole);
        for (const std::string& l : lines)
            receiver.line(l);
        return receiver.finish();
    }

    std::string file_of(const store::MessageEntry& entry) const
    {
        auto data = platform::read_file(index.message_path(entry));
        return data ? *data : std::string("<missing>");
    }

    // The decoded bytes of a part, read from the message file the way the
    // pages read it: from its body offset, its number of lines.
    std::string decode(const store::MessageEntry& entry, const store::PartRecord& part) const
    {
        auto reader = mime::LineReader::open(index.message_path(entry));
        if (!reader)
            return "<missing>";
        std::string line;
        while (reader->line_offset() + reader->line_bytes() < static_cast<std::uint64_t>(part.body_offset)) {
            if (!reader->next(line, 1u << 20))
                return "<short>";
        }
        mime::LineDecoder decoder(mime::classify_encoding(part.transfer_encoding));
        std::string out;
        for (std::int64_t i = 0; i < part.line_count && reader->next(line, 1u << 20); ++i)
            decoder.decode(line, out);
        return out;
    }

    const std::vector<std::string> fixed = {"Inbox", "Drafts", "Sent", "Trash"};
    testing::TempDir dir;
    store::FolderList folders;
    store::MessageIndex index;
    filters::FilterSet filters;
    mime_types::MimeTypeTable types;
    ReceiverOptions options;
    std::vector<std::string> keep;
};

// "a\r\nb\r\n" from {"a", "b"}.
inline std::string crlf(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& l : lines)
        out += l + "\r\n";
    return out;
}

}  // namespace corvane::receiver

// A user's message store written and read in its file formats by hand
// (Messages.idx records of eleven fields, each ended by 0x01, then CR LF),
// so the tests see what the engine wrote without using its own reader.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/platform/files.h"
#include "common/text/strings.h"

namespace corvane::testing {

constexpr std::uint32_t flag_new = 0x01;
constexpr std::uint32_t flag_read = 0x04;
constexpr std::uint32_t flag_downloaded = 0x80;
constexpr std::uint32_t flag_copy_pending = 0x100;

struct Message {
    Message(std::uint32_t number_, std::string folder_, std::uint32_t flags_ = flag_downloaded,
            std::string server_id_ = {}, std::string mailbox_ = {}, std::uint32_t size_ = 1000)
        : number(number_),
          folder(std::move(folder_)),
          flags(flags_),
          server_id(std::move(server_id_)),
          mailbox(std::move(mailbox_)),
          size(size_)
    {
    }

    std::uint32_t number;
    std::string folder;  // empty: deleted here, waiting for its server
    std::uint32_t flags;
    std::string server_id;
    std::string mailbox;
    std::uint32_t size;
    std::string subject = "Hello";
};

inline std::string file_name_of(std::uint32_t number)
{
    return text::format("CV%06u", number);
}

// Messages.idx and the message files of the downloaded messages.
inline void seed_store(const std::string& user_dir, std::uint32_t counter, const std::vector<Message>& messages)
{
    std::string index = std::to_string(counter) + "\n";
    for (const Message& m : messages) {
        const std::string fields[] = {m.server_id,
                                      m.mailbox,
                                      "bob@example.com",
                                      "Carol <carol@example.com>",
                                      m.subject,
                                      "1700000000",
                                      std::to_string(m.size),
                                      std::to_string(m.number),
                                      file_name_of(m.number),
                                      m.folder,
                                      std::to_string(m.flags)};
        for (const auto& field : fields)
            index += field + '\x01';
        index += "\r\n";
        if ((m.flags & flag_downloaded) && !m.folder.empty()) {
            // Folder names in the index may differ in case from the disk.
            std::string folder = user_dir + "/" + m.folder;
            if (auto listing = platform::list_directory(user_dir)) {
                for (const auto& entry : *listing) {
                    if (text::iequals(entry.name, m.folder))
                        folder = user_dir + "/" + entry.name;
                }
            }
            ASSERT_TRUE(platform::make_directories(folder));
            ASSERT_TRUE(platform::write_file_atomic(folder + "/" + file_name_of(m.number) + ".msg",
                                                    "Subject: " + m.subject + "\r\n\r\nbody\r\n"));
        }
    }
    ASSERT_TRUE(platform::make_directories(user_dir));
    ASSERT_TRUE(platform::write_file_atomic(user_dir + "/Messages.idx", index));
}

struct Stored {
    std::string folder;
    std::uint32_t flags = 0;
    std::string server_id;
    std::string mailbox;
};

// Messages.idx as the engine left it: message number -> entry.
inline std::map<std::uint32_t, Stored> stored_index(const std::string& user_dir)
{
    std::map<std::uint32_t, Stored> entries;
    auto data = platform::read_file(user_dir + "/Messages.idx");
    if (!data)
        return entries;
    std::string_view rest = *data;
    rest.remove_prefix(std::min(rest.size(), rest.find('\n') + 1));  // the counter
    while (!rest.empty()) {
        std::size_t end = rest.find("\r\n");
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 2);
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\x01') {
                fields.emplace_back(line.substr(start, i - start));
                start = i + 1;
            }
        }
        EXPECT_EQ(fields.size(), 11u) << "a record the engine wrote: " << line;
        if (fields.size() != 11)
            continue;
        Stored entry{fields[9], static_cast<std::uint32_t>(std::stoul(fields[10])), fields[0], fields[1]};
        entries[static_cast<std::uint32_t>(std::stoul(fields[7]))] = entry;
    }
    return entries;
}

inline bool message_file_exists(const std::string& user_dir, const std::string& folder, std::uint32_t number)
{
    return platform::is_regular_file(user_dir + "/" + folder + "/" + file_name_of(number) + ".msg");
}

}  // namespace corvane::testing

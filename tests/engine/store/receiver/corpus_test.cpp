// Real mail nobody here wrote: the test messages of Python's email package
// go through the receiver, and the parts we record are compared with the
// leaf parts Python finds (number, content types, file names, decoded bytes).
#include <stdio.h>
#include <sys/wait.h>

#include <map>
#include <set>

#include "common/text/strings.h"
#include "engine/store/mime/header_list.h"
#include "engine/store/mime/parameters.h"
#include "tests/engine/store/receiver/receiver_fixture.h"

namespace corvane::receiver {
namespace {

const std::string corpus_dir = "/usr/lib/python3.11/test/test_email/data";
const std::string python = "/usr/bin/python3";

// Every difference that remains, and why it is right for us.
const std::map<std::string, std::string> expected_differences = {
    // A part without Content-Type is application/octet-stream to us (plain
    // text only inside multipart/report), offered as an attachment named
    // ATTnnnnn.att. Python follows RFC 2046: text/plain, or message/rfc822
    // inside a multipart/digest (02, 30, 34).
    {"msg_02.txt", "type"},
    {"msg_24.txt", "type"},
    {"msg_30.txt", "type"},
    {"msg_34.txt", "type"},
    {"msg_36.txt", "type"},
    {"msg_42.txt", "type"},
    // "Content-Type: text" without a subtype is kept as written (it is
    // still shown as text); Python replaces an invalid type by text/plain.
    {"msg_14.txt", "type"},
    // The nested multipart/alternative reuses its parent's boundary. We
    // record the text, the HTML and the GIF image; Python makes an empty
    // multipart/alternative of it and loses the image.
    {"msg_15.txt", "bytes,name,type"},
    // A header without the empty line after it (19 has no header at all):
    // the header runs to the first empty line for us, as it does for every
    // reader of stored messages; Python ends it at the first line that is
    // not a header field, so its body starts earlier.
    {"msg_19.txt", "bytes"},
    {"msg_35.txt", "bytes"},
    // Three levels of multipart: we follow two, the third-level
    // multipart/alternative is one opaque part.
    {"msg_38.txt", "bytes,count,type"},
};

std::vector<std::string> corpus()
{
    std::vector<std::string> names;
    auto listing = platform::list_directory(corpus_dir);
    if (!listing)
        return names;
    for (const auto& entry : *listing) {
        if (text::istarts_with(entry.name, "msg_") && text::iends_with(entry.name, ".txt"))
            names.push_back(entry.name);
    }
    return names;
}

std::string run(const std::string& command)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return "popen failed";
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    int status = ::pclose(pipe);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        out += "python failed (" + std::to_string(status) + ")\n";
    return out;
}

class CorpusTest : public ReceiverTest {};

TEST_F(CorpusTest, PartsAgreeWithPythonsEmailPackage)
{
    std::vector<std::string> names = corpus();
    if (names.empty() || !platform::exists(python))
        GTEST_SKIP() << "no corpus in " << corpus_dir << " or no " << python;
    EXPECT_GE(names.size(), 40u);

    std::map<std::string, std::string> differences;
    testing::TempDir work;
    for (const std::string& name : names) {
        auto data = platform::read_file(corpus_dir + "/" + name);
        ASSERT_TRUE(data) << name;
        store::MessageEntry* entry;
        {
            MessageReceiver receiver(index, "Inbox", options);
            receiver.begin(static_cast<std::uint32_t>(data->size()), StoreMode::whole);
            receiver.write(*data);
            entry = receiver.finish();
        }
        ASSERT_NE(entry, nullptr) << name;
        ASSERT_TRUE(entry->has(store::flags::downloaded)) << name;

        // Our parts, decoded from the stored file.
        std::string manifest;
        const store::PartList& parts = part_list(index, *entry, options);
        if (entry->has(store::flags::multipart)) {
            for (std::size_t i = 0; i < parts.size(); ++i) {
                std::string path = work / text::format("%s.%zu", name.c_str(), i);
                ASSERT_TRUE(platform::write_file_atomic(path, decode(*entry, parts[i])).ok());
                manifest += parts[i].content_type + "\t" + parts[i].file_name + "\t" + path + "\n";
            }
        } else {
            // A message without parts is its own single part: the body.
            mime::HeaderList header = mime::read_header(index.message_path(*entry));
            store::PartRecord body;
            body.transfer_encoding = header.value("Content-Transfer-Encoding");
            std::string stored = *platform::read_file(index.message_path(*entry));
            std::size_t end = stored.find("\r\n\r\n");
            body.body_offset = end == std::string::npos ? static_cast<std::int64_t>(stored.size())
                                                        : static_cast<std::int64_t>(end + 4);
            body.line_count = 1 << 30;
            std::string path = work / (name + ".body");
            ASSERT_TRUE(platform::write_file_atomic(path, decode(*entry, body)).ok());
            std::string type = mime::content_type_of(header.value("Content-Type"), 79);
            manifest += (type.empty() ? "text/plain" : type) + "\t\t" + path + "\n";
        }
        std::string manifest_path = work / (name + ".manifest");
        ASSERT_TRUE(platform::write_file_atomic(manifest_path, manifest).ok());
        std::string report =
            run(python + " " + CORPUS_COMPARE_SCRIPT + " '" + corpus_dir + "/" + name + "' '" + manifest_path + "'");
        if (report.empty())
            continue;
        // Summarise by kind ("type", "count", ...) for the table above.
        std::set<std::string> kinds;
        std::size_t pos = 0;
        while (pos < report.size()) {
            std::size_t end = report.find('\n', pos);
            std::string line = report.substr(pos, end - pos);
            kinds.insert(line.substr(0, line.find(' ')));
            pos = end == std::string::npos ? report.size() : end + 1;
        }
        std::string summary;
        for (const std::string& kind : kinds)
            summary += (summary.empty() ? "" : ",") + kind;
        differences[name] = summary;
        std::printf("%s: %s\n%s", name.c_str(), summary.c_str(), report.c_str());
    }
    EXPECT_EQ(differences, expected_differences);
}

}  // namespace
}  // namespace corvane::receiver

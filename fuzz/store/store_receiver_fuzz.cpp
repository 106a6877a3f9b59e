// A whole message through the receiver in a real user directory: stored,
// indexed, its parts recorded, then scanned again from the stored file and
// deleted. The first byte chooses where the stream is cut in two.
#include <stdlib.h>

#include <cstdint>
#include <string>

#include "common/platform/files.h"
#include "engine/store/receiver/message_receiver.h"

using namespace corvane;

namespace {

struct Store {
    std::string dir;
    store::FolderList folders{""};
    filters::FilterSet filter_set;
    mime_types::MimeTypeTable types;

    Store()
    {
        char pattern[] = "/tmp/corvane-fuzz-receiver-XXXXXX";
        dir = ::mkdtemp(pattern) ? pattern : "/tmp";
        folders = store::FolderList(dir);
        folders.build({"Inbox", "Drafts", "Sent", "Trash"});
        (void)filter_set.add("Y S C \"list\" \"Drafts\"");
        (void)filter_set.add("Y F E \".org\" \"Missing\"");
        types.add_text("application/pdf pdf\ntext/plain txt\nimage/png png\napplication/zip zip\n");
    }
    ~Store()
    {
        if (dir != "/tmp")
            (void)platform::remove_tree(dir);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Store s;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t cut = size ? (data[0] * size) / 256 : 0;

    store::MessageIndex index;
    index.open(s.dir);
    receiver::ReceiverOptions options;
    options.types = &s.types;
    std::vector<std::string> keep;
    {
        receiver::MessageReceiver receiver(
            index, receiver::MessageReceiver::FromMailbox{"Home", "uid", &keep, {&s.filter_set, &s.folders}}, options);
        receiver.begin(static_cast<std::uint32_t>(size), receiver::StoreMode::whole);
        receiver.write(input.substr(0, cut));
        receiver.write(input.substr(cut));
        store::MessageEntry* entry = receiver.finish();
        if (!entry)
            abort();
        if (!s.folders.contains(entry->folder))
            abort();
        (void)receiver::part_list(index, *entry, options);
        entry->parts.reset();
        (void)platform::remove_file(index.part_list_path(*entry));
        (void)receiver::MessageReceiver::rescan(index, *entry, options);
    }
    for (const std::string& folder : s.folders.names())
        (void)index.empty_folder(folder);
    return 0;
}

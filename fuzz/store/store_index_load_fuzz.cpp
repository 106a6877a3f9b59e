// Messages.idx loaded over a user directory that holds messages, stray
// part lists and the leftovers of interrupted writes: whatever the index
// says, the load never touches a file outside the user directory, never
// removes a message file, and leaves every downloaded entry in a folder
// pointing at a file that exists.
#include <stdlib.h>

#include <cstdint>
#include <string>

#include "common/platform/files.h"
#include "engine/store/message_index/message_index.h"

using namespace corvane;

namespace {

struct Tree {
    std::string root;  // holds the user directory and a file beside it
    std::string user_dir;

    Tree()
    {
        char pattern[] = "/tmp/corvane-fuzz-index-XXXXXX";
        root = ::mkdtemp(pattern) ? pattern : "";
        user_dir = root + "/user";
    }
    ~Tree()
    {
        if (!root.empty())
            (void)platform::remove_tree(root);
    }

    void reset(std::string_view index)
    {
        (void)platform::remove_tree(user_dir);
        for (const char* dir : {"", "/Inbox", "/Work", "/.hidden"})
            (void)platform::make_directories(user_dir + dir);
        for (const char* file :
             {"/Inbox/CV000007.msg", "/Inbox/CV000007.att", "/Work/CV000008.msg", "/Work/CV000009.att",
              "/Work/other.msg", "/Inbox/.CV000010.incoming", "/.hidden/CV000011.msg"})
            (void)platform::write_file_atomic(user_dir + file, "Subject: x\r\n\r\n", 0600, platform::Durability::none);
        (void)platform::write_file_atomic(root + "/CV000012.msg", "outside", 0600, platform::Durability::none);
        (void)platform::write_file_atomic(user_dir + "/Messages.idx", index, 0600, platform::Durability::none);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Tree tree;
    if (tree.root.empty())
        return 0;
    tree.reset(std::string_view(reinterpret_cast<const char*>(data), size));
    store::MessageIndex index;
    index.open(tree.user_dir);

    for (const char* file : {"/Inbox/CV000007.msg", "/Work/CV000008.msg", "/Work/other.msg", "/.hidden/CV000011.msg"}) {
        if (!platform::exists(tree.user_dir + file))
            abort();
    }
    if (!platform::exists(tree.root + "/CV000012.msg"))
        abort();
    for (const auto& entry : index.entries()) {
        if (entry->folder.empty() || !entry->has(store::flags::downloaded))
            continue;
        std::string path = index.message_path(*entry);
        if (path.empty() || path.compare(0, tree.user_dir.size() + 1, tree.user_dir + "/") != 0 ||
            !platform::is_regular_file(path))
            abort();
    }
    for (const store::UnindexedFile& file : index.unindexed()) {
        if (!platform::is_regular_file(tree.user_dir + "/" + file.folder + "/" + file.file_name + ".msg"))
            abort();
    }
    (void)index.save();
    return 0;
}

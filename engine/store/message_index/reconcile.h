// Makes a freshly loaded message index agree with the files of the store.
//
// The index is written after the files of an action have moved, so a crash
// in between leaves the two apart: an entry whose file moved to another
// folder, an entry whose file was deleted, a file that no entry names yet
// (a message stored or copied just before the crash). Reading each folder
// of the user directory once (no look-up per message), the loader settles
// every difference so that no message is lost:
//   - an entry whose file lies in another folder follows it there, keeping
//     its flags; entries without a file (fetched as header only) of the
//     folder it came from follow it too (a renamed folder);
//   - a header-only entry whose file has arrived becomes downloaded;
//   - an entry whose file is gone everywhere was being deleted: it is
//     deleted here as delete_entry() would have done;
//   - files that no entry names are reported for adoption (the index cannot
//     read messages; the receiver can, see receiver::adopt_unindexed_files);
//   - part lists without their message and files an interrupted write left
//     behind are removed.
// When a directory cannot be listed nothing of it is judged: its entries
// stay as they are. Nothing here changes a message file's name or content.
#pragma once

#include <string>
#include <vector>

namespace corvane::store {

class MessageIndex;

// A message file in a folder that no entry names.
struct UnindexedFile {
    std::string folder;     // as spelled on disk
    std::string file_name;  // without ".msg"
};

struct Reconciled {
    bool changed = false;  // an entry was changed or removed
    std::vector<UnindexedFile> unindexed;
};

Reconciled reconcile_with_files(MessageIndex& index);

}  // namespace corvane::store

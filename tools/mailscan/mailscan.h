// Mailscan: the administrator's view of a user's message store.
//
//   Mailscan FILE             the index fields and part list the receiver
//                             makes of a message file
//   Mailscan --part N FILE    part N (as listed, from 1) decoded to stdout
//   Mailscan --check USERDIR  index entries without message files, message
//                             files without index entries, entries in
//                             missing folders, stray part lists, what an
//                             interrupted write left
//   Mailscan --rebuild USERDIR  Messages.idx made anew from the message
//                             files (the old one kept as Messages.idx.bak)
//
// Nothing here changes a store except --rebuild, which writes Messages.idx
// (and part lists that are missing); it must not run while the user has a
// session, whose next save would overwrite the rebuilt index.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "engine/store/receiver/message_receiver.h"

namespace corvane::mailscan {

// Exit codes.
constexpr int exit_ok = 0;
constexpr int exit_findings = 1;  // --check found inconsistencies
constexpr int exit_usage = 2;
constexpr int exit_failed = 3;  // a file or directory could not be read or written

// Prints what the receiver makes of a message file.
int print_scan(const std::string& path, const receiver::ReceiverOptions& options, std::FILE* out, std::FILE* err);

// Writes part `number` (1 = first of the list; a message without a part
// list has its body as part 1) decoded to out.
int write_part(const std::string& path, long number, const receiver::ReceiverOptions& options, std::FILE* out,
               std::FILE* err);

struct CheckReport {
    std::vector<std::string> missing_files;     // "<folder>/<file>.msg" of entries
    std::vector<std::string> unindexed_files;   // "<folder>/<file>.msg" on disk
    std::vector<std::string> leftovers;         // interrupted writes: ".CV000001.incoming", "Inbox/.CV000002.new"
    std::vector<std::string> hidden_entries;    // "<folder>/<file>" of header-only entries whose folder is missing
    std::vector<std::string> stray_part_lists;  // "<folder>/<file>.att" without its message file
};
// Compares Messages.idx (as it is on disk, nothing pruned) with the folders.
// A store that a crash left is settled by the next load of its index; the
// check tells what that load will have to settle, or, after it, whether
// anything is left.
std::optional<CheckReport> check_user_dir(const std::string& user_dir);
int print_check(const std::string& user_dir, std::FILE* out, std::FILE* err);

struct RebuildReport {
    std::size_t entries = 0;
    std::size_t folders = 0;
    std::size_t part_lists = 0;  // missing .att files written
    bool backup = false;         // an old index was kept as Messages.idx.bak
};
// Recreates Messages.idx from the message files of every folder. What the
// files cannot tell (read and new flags, server identifiers, mailboxes)
// stays clear.
std::optional<RebuildReport> rebuild_user_dir(const std::string& user_dir, const receiver::ReceiverOptions& options,
                                              std::string* error);
int print_rebuild(const std::string& user_dir, const receiver::ReceiverOptions& options, std::FILE* out,
                  std::FILE* err);

}  // namespace corvane::mailscan

// Filters applied to messages: the folder of an arriving message, and the
// re-filtering of a folder on the user's request.
//
// Both work on decoded header lists (mime::HeaderList) and only ever send a
// message to a folder of the user's folder list: a rule naming a folder that
// no longer exists sends arriving mail to the Inbox and leaves stored mail
// where it is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/store/filters/filter_set.h"
#include "engine/store/message_index/folder_list.h"
#include "engine/store/message_index/message_index.h"
#include "engine/store/mime/header_list.h"

namespace corvane::filters {

// A lookup over a header list (the list must outlive the lookup).
HeaderLookup header_lookup(const mime::HeaderList& header);

// The folder for a message arriving from mailbox: the filters' choice when
// it is in the folder list (as the list spells it), else the Inbox.
std::string choose_folder(const FilterSet& filters, const mime::HeaderList& header, std::string_view mailbox,
                          const store::FolderList& folders);

// The folder that "apply filters" works on: dest_folder when it names a
// folder of the list, else the Inbox; nullopt for an empty list.
std::optional<std::string> refilter_source(const store::FolderList& folders, std::string_view dest_folder);

// Runs the filters again over every message of folder, in index order,
// with the folder itself as the default, and moves each message whose
// result is another folder of the list. The header comes from the message
// file; From, To and Subject missing there are taken from the entry.
// Returns the number of messages moved.
std::size_t refilter_folder(store::MessageIndex& index, const store::FolderList& folders, const FilterSet& filters,
                            std::string_view folder);

}  // namespace corvane::filters

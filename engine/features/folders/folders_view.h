// The Folders view: the user's own folders created, renamed and deleted
// from the Folders page.
//
// Create with a non-empty NewFolder makes a folder (a refused name or an
// existing one shows language string 51). Otherwise each "Delete:" + name
// field deletes that folder with every message in it and the filters that
// led there, and each "Rename:" + name field renames the folder to the value
// of "Folder:" + name, taking its filters along. The four fixed folders are
// never renamed or deleted: the page does not offer it, and a crafted form
// must not take the Inbox or the Trash away. The folder that was current
// stays current (under its new name when it was renamed); Cancel and
// Finished return to the page before.
//
// What it does not do: check names (the store refuses names that could
// leave the user directory) or touch messages beyond the deleted folders.
#pragma once

#include "engine/core/dispatch/request_steps.h"

namespace corvane::folders {

class FoldersView final : public dispatch::ViewHandlers {
public:
    void run(dispatch::RequestContext& request) override;
};

}  // namespace corvane::folders

#include "engine/features/folders/folders_view.h"

#include <optional>
#include <string>
#include <vector>

#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/sessions/session.h"
#include "engine/store/message_index/folder_list.h"
#include "engine/store/user_mail/user_mail.h"

namespace corvane::folders {
namespace {

using dispatch::RequestContext;

constexpr int string_not_created = 51;
constexpr std::size_t fixed_folders = 4;

// The folder as listed, unless it is missing or one of the fixed four.
std::optional<std::string> own_folder(const store::FolderList& folders, std::string_view name)
{
    auto listed = folders.find(name);
    if (!listed)
        return std::nullopt;
    const auto& names = folders.names();
    for (std::size_t i = 0; i < fixed_folders && i < names.size(); ++i) {
        if (text::iequals(names[i], *listed))
            return std::nullopt;
    }
    return listed;
}

}  // namespace

void FoldersView::run(RequestContext& request)
{
    sessions::Session* session = request.session();
    accounts::UserRecord* user = request.user();
    if (!session || !user)
        return;
    const cgi::FieldTable& fields = request.fields();
    if (fields.present("Cancel")) {
        request.set_view(session->previous_view);
        return;
    }
    store::UserMail& mail = user->mail();
    store::FolderList& folders = mail.folders();
    if (folders.size() < fixed_folders)
        return;
    const std::vector<std::string> fixed(folders.names().begin(), folders.names().begin() + fixed_folders);
    std::optional<std::string> current;
    if (const std::string* name = folders.current())
        current = *name;

    if (fields.present("Create") && !fields.missing_or_empty("NewFolder")) {
        std::string name(text::cut(fields.value("NewFolder"), store::max_folder_name));
        if (folders.create(name))
            folders.build(fixed);
        else
            request.set_error_message(request.language_string(string_not_created));
    } else {
        for (const auto& entry : fields.entries()) {
            if (text::istarts_with(entry.name, "Delete:")) {
                auto name = own_folder(folders, std::string_view(entry.name).substr(7));
                if (name && !mail.delete_folder(*name))
                    request.log().line(log::Level::error, "Could not delete the folder %s", name->c_str());
            } else if (text::istarts_with(entry.name, "Rename:")) {
                std::string_view old_name = std::string_view(entry.name).substr(7);
                auto name = own_folder(folders, old_name);
                std::string new_name(
                    text::cut(fields.value("Folder:" + std::string(old_name)), store::max_folder_name));
                if (!name || new_name == *name)
                    continue;
                if (!mail.rename_folder(*name, new_name)) {
                    request.log().line(log::Level::error, "Could not rename the folder %s", name->c_str());
                    continue;
                }
                if (current && text::iequals(*current, *name))
                    current = new_name;
            }
        }
        if (!mail.index().save())
            request.log().line(log::Level::error, "Could not write the message index");
    }
    if (current)
        folders.select(*current);

    if (fields.present("Finished"))
        request.set_view(session->previous_view);
}

}  // namespace corvane::folders

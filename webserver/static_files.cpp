#include "webserver/static_files.h"

#include <optional>

#include "common/platform/files.h"
#include "webserver/http_response.h"

namespace corvane::webserver {

namespace fs = corvane::platform;

StaticAnswer answer_static(const std::string& html_dir, const std::string& def_html_file, std::string_view url_path,
                           const HttpRequest& request, std::time_t request_time, const mime_types::MimeTypeTable& types)
{
    StaticAnswer answer;
    // An empty HtmlDir would put the URL path at the root of the file
    // system: it means there are no static files. A path without its
    // leading "/" would name a sibling of HtmlDir.
    if (html_dir.empty() || url_path.empty() || url_path.front() != '/')
        return answer;
    answer.file_path = html_dir + std::string(url_path);
    if (answer.file_path.back() == '/')
        answer.file_path += def_html_file;
    if (answer.file_path.size() > max_path)
        return answer;

    auto opened = fs::open_regular_file(answer.file_path);
    if (!opened)
        return answer;
    if (!request.is_head() && request.if_modified_since != 0 && request.if_modified_since >= opened->modified) {
        answer.status = 304;
        return answer;
    }

    // The type comes from the last "." of the file's own name; a name
    // without one is sent without a type.
    std::optional<std::string_view> type;
    std::string name = fs::file_name_of(answer.file_path);
    if (auto dot = name.rfind('.'); dot != std::string::npos)
        type = types.type_of(std::string_view(name).substr(dot + 1));
    answer.status = 200;
    answer.length = opened->size;
    answer.header = static_file_header(request_time, type, opened->size, opened->modified);
    if (!request.is_head())
        answer.file = std::move(opened->fd);
    return answer;
}

}  // namespace corvane::webserver

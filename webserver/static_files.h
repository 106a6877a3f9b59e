// Static files below HtmlDir: which file a URL path names, whether the
// client's copy is still current, and the header block that goes before it.
//
// The URL path is appended to HtmlDir as it is (no percent-decoding); the
// parser has already refused paths that climb out with "..". A path ending
// in "/" names DefHtmlFile in that directory. Only regular files are
// served; a path that would be longer than the path limit is refused, never
// cut into the name of another file. For HEAD the file is examined but not
// kept open and If-Modified-Since is not applied.
//
// What it does not do: directory listings, ranges, or content negotiation.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "common/mime_types/mime_type_table.h"
#include "common/platform/unique_fd.h"
#include "webserver/http_request.h"

namespace corvane::webserver {

struct StaticAnswer {
    int status = 404;          // 200, 304 or 404
    std::string file_path;     // what was looked for
    std::string header;        // for 200
    platform::UniqueFd file;   // for 200 on GET and POST
    std::uint64_t length = 0;  // of the file
};

StaticAnswer answer_static(const std::string& html_dir, const std::string& def_html_file, std::string_view url_path,
                           const HttpRequest& request, std::time_t request_time,
                           const mime_types::MimeTypeTable& types);

}  // namespace corvane::webserver

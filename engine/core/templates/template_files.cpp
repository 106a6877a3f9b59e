#include "engine/core/templates/template_files.h"

#include "common/log/log_file.h"
#include "common/platform/files.h"
#include "common/text/strings.h"

namespace corvane::templates {

namespace fs = corvane::platform;

namespace {

void walk(const std::string& dir, const std::string& prefix, int depth, log::Logger& log,
          const std::function<void(const std::string&, std::string&)>& fn)
{
    auto entries = fs::list_directory(dir);
    if (!entries) {
        log.line(log::Level::error, "Could not read template directory %s: %s", dir.c_str(),
                 entries.error().text.c_str());
        return;
    }
    for (const auto& entry : *entries) {
        if (entry.is_directory || !text::iends_with(entry.name, ".html"))
            continue;
        std::string path = fs::join_path(dir, entry.name);
        auto data = fs::read_file(path, max_template_size);
        if (!data) {
            log.line(log::Level::error, "Could not read template %s: %s", path.c_str(), data.error().text.c_str());
            continue;
        }
        fn(prefix + entry.name, *data);
    }
    if (depth >= max_template_depth)
        return;
    for (const auto& entry : *entries) {
        if (entry.is_directory && entry.name.front() != '.')
            walk(fs::join_path(dir, entry.name), prefix + entry.name + "/", depth + 1, log, fn);
    }
}

}  // namespace

void for_each_template_file(const std::string& template_dir, log::Logger& log,
                            const std::function<void(const std::string& key, std::string& text)>& fn)
{
    walk(template_dir, "", 0, log, fn);
}

}  // namespace corvane::templates

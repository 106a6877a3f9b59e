// The template files below a template directory, in the order the engine
// loads and checks them: the "*.html" files of a directory (by name), then
// each subdirectory whose name does not begin with "." (recursively).
//
// Keys are paths relative to the template directory with "/" between the
// parts ("Logon.html", "jsFrames/Data/AddrBookData.html"). A file that
// cannot be read (or is absurdly large) is logged and skipped; recursion is
// bounded and symbolic links to directories are not followed.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace corvane::log {
class Logger;
}

namespace corvane::templates {

constexpr std::size_t max_template_size = 8u << 20;
constexpr int max_template_depth = 16;

void for_each_template_file(const std::string& template_dir, log::Logger& log,
                            const std::function<void(const std::string& key, std::string& text)>& fn);

}  // namespace corvane::templates

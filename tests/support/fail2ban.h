// The shipped fail2ban filter (packaging/fail2ban) run over a log that a
// real server wrote, with fail2ban's own fail2ban-regex: which addresses
// fail2ban would count, one per matched line, in log order.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace corvane::testing {

constexpr const char* fail2ban_regex_program = "/usr/bin/fail2ban-regex";

inline bool fail2ban_installed()
{
    return ::access(fail2ban_regex_program, X_OK) == 0;
}

// The addresses fail2ban-regex finds in log_path with the filter in
// source_dir; nullopt when the program fails (output says why).
inline std::optional<std::vector<std::string>> fail2ban_addresses(const std::string& source_dir,
                                                                  const std::string& log_path, std::string& output)
{
    std::string command = std::string(fail2ban_regex_program) + " -o ip '" + log_path + "' '" + source_dir +
                          "/packaging/fail2ban/filter.d/corvane.conf' 2>&1";
    output.clear();
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    if (::pclose(pipe) != 0)
        return std::nullopt;
    std::vector<std::string> addresses;
    std::size_t pos = 0;
    while (pos < output.size()) {
        std::size_t end = output.find('\n', pos);
        std::string line = output.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (!line.empty())
            addresses.push_back(line);
        pos = end == std::string::npos ? output.size() : end + 1;
    }
    return addresses;
}

}  // namespace corvane::testing

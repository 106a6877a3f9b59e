// Helpers shared by the template tests: a log that keeps its lines, a
// request for the page tags, and small file helpers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/log/log_file.h"
#include "common/platform/files.h"
#include "engine/core/cgi/field_table.h"
#include "engine/core/templates/top_level_tags.h"

namespace corvane::templates::test {

class CaptureLog final : public log::Logger {
public:
    std::vector<std::string> lines;

    void write_raw(std::string_view bytes) override { lines.emplace_back(bytes); }
    void flush() override {}
    int threshold() const override { return 1; }

    bool has(std::string_view text) const
    {
        for (const auto& line : lines) {
            if (line.find(text) != std::string::npos)
                return true;
        }
        return false;
    }
    std::size_t count(std::string_view text) const
    {
        std::size_t n = 0;
        for (const auto& line : lines)
            n += line.find(text) != std::string::npos;
        return n;
    }

protected:
    void write_message(std::string_view message) override { lines.emplace_back(message); }
};

class FakeRequest final : public RequestInfo {
public:
    cgi::FieldTable table;
    std::string lang = "en";
    int view_number = 1;
    std::string user;
    std::string status;
    std::string error;

    const cgi::FieldTable& fields() const override { return table; }
    std::string_view language() const override { return lang; }
    int view() const override { return view_number; }
    std::string_view user_name() const override { return user; }
    std::string take_status_message() override { return std::exchange(status, std::string()); }
    std::string take_error_message() override { return std::exchange(error, std::string()); }
};

inline void write(const std::string& path, std::string_view text)
{
    platform::make_directories(platform::directory_of(path)).ok();
    if (!platform::write_file_atomic(path, text, 0644, platform::Durability::none))
        throw std::runtime_error("cannot write " + path);
}

inline std::string read(const std::string& path)
{
    auto data = platform::read_file(path);
    return data ? *data : std::string();
}

// The directory of the shipped templates in the source tree.
inline std::string shipped_templates()
{
    return std::string(CORVANE_SOURCE_DIR) + "/templates";
}

}  // namespace corvane::templates::test

// A logger that keeps every line in one string, for tests that look at what
// a module logged, and a file reader that shows a missing file as
// "<missing>" in a failure message instead of stopping the test.
#pragma once

#include <string>
#include <string_view>

#include "common/log/log_file.h"
#include "common/platform/files.h"

namespace corvane::testing_support {

class TextLog final : public log::Logger {
public:
    explicit TextLog(int threshold = 1) : m_threshold(threshold) {}

    void write_raw(std::string_view bytes) override { text.append(bytes); }
    void flush() override {}
    int threshold() const override { return m_threshold; }
    bool has(std::string_view needle) const { return text.find(needle) != std::string::npos; }

    std::string text;

protected:
    void write_message(std::string_view message) override
    {
        text.append(message);
        text += '\n';
    }

private:
    int m_threshold;
};

inline std::string read_or_missing(const std::string& path)
{
    auto text = platform::read_file(path);
    return text ? *text : std::string("<missing>");
}

}  // namespace corvane::testing_support

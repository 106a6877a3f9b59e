// A temporary directory for one test, removed with everything in it.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace corvane::testing {

class TempDir {
public:
    TempDir()
    {
        std::string pattern = "/tmp/corvane-test-XXXXXX";
        m_path = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDir()
    {
        if (!m_path.empty()) {
            std::string command = "rm -rf '" + m_path + "'";
            if (std::system(command.c_str()) != 0) {
                // Leftovers in /tmp are harmless; the test result stands.
            }
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

}  // namespace corvane::testing

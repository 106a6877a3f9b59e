// An install tree for an engine started inside the test process, with its
// own Corvane.ini, directories and shared-memory instance, and an engine
// over it without modules (requests are accepted and closed).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "engine/core/lifecycle/engine.h"
#include "tests/support/temp_dir.h"

namespace corvane::testing {

class EngineTree {
public:
    EngineTree()
    {
        static std::atomic<int> counter{0};
        m_instance = "lc" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
        ::setenv("CORVANE_INSTANCE", m_instance.c_str(), 1);
        for (const char* dir : {"Logs", "Temp", "Templates", "Users"})
            (void)platform::make_directory(m_tmp / dir);
        (void)ini().update([this](ini::Document& doc) {
            doc.set("Directories", "BaseDir", m_tmp.path());
            doc.set("Directories", "LogDir", m_tmp / "Logs");
            doc.set("Directories", "TempDir", m_tmp / "Temp");
            doc.set("Directories", "TemplateDir", m_tmp / "Templates");
            doc.set("Directories", "UserDir", m_tmp / "Users");
            doc.set("Directories", "SpellDir", m_tmp / "SpellCheck");
            return true;
        });
        m_engine = std::make_unique<lifecycle::Engine>(config_path());
    }
    ~EngineTree() { m_engine.reset(); }

    std::string config_path() const { return m_tmp / "Corvane.ini"; }
    lifecycle::Engine& engine() { return *m_engine; }

    ini::Profile ini() const { return ini::Profile(m_tmp / "Corvane.ini"); }
    void set(const std::string& section, const std::string& key, const std::string& value)
    {
        (void)ini().write_text(section, key, value);
    }
    std::string path(const std::string& name) const { return m_tmp / name; }
    const std::string& root() const { return m_tmp.path(); }
    const std::string& instance() const { return m_instance; }

    std::string log_text() const
    {
        auto text = platform::read_file(ini().text("Other", "LatestLogFile", m_tmp / "Logs/Corvane.log"));
        return text ? *text : std::string();
    }
    // The log's lines without their time stamps.
    std::vector<std::string> log_lines() const
    {
        std::vector<std::string> lines;
        std::string all = log_text();
        for (std::size_t pos = 0; pos < all.size();) {
            std::size_t end = all.find("\r\n", pos);
            if (end == std::string::npos)
                end = all.size();
            std::string line = all.substr(pos, end - pos);
            lines.push_back(line.size() >= 26 && line[0] == '[' ? line.substr(26) : line);
            pos = end + 2;
        }
        return lines;
    }
    bool log_contains(const std::string& text) const { return log_text().find(text) != std::string::npos; }

private:
    TempDir m_tmp;
    std::string m_instance;
    std::unique_ptr<lifecycle::Engine> m_engine;
};

}  // namespace corvane::testing

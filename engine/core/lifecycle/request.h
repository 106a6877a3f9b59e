// What Main hands on for each request: the two descriptors and the CGI
// environment, and the handler that answers it.
//
// The engine owns both descriptors from the moment Main is called and closes
// them on every path: a Request holds them in UniqueFds, so whatever the
// handler does (or fails to do), they are closed when the Request goes. A
// handler may close them earlier, for instance to let the client have its
// page before a mail check runs.
//
// The request dispatcher is the handler; the composition root hands it to
// the engine (EngineModules). Without one, a request is accepted and closed
// without an answer.
#pragma once

#include <string_view>
#include <utility>
#include <vector>

#include "common/platform/unique_fd.h"

namespace corvane::lifecycle {

class Engine;

// The environment block: NUL-terminated "NAME=value" strings up to an empty
// one. The views point into the host's block, which stays valid during Main.
class Environment {
public:
    Environment() = default;
    // Reads a block; nullptr gives an empty environment. Strings without "="
    // are skipped.
    explicit Environment(const char* block);

    // The value of the first variable of that name, compared without regard
    // to case; "" when there is none (has() tells the two apart).
    std::string_view get(std::string_view name) const;
    bool has(std::string_view name) const;
    const std::vector<std::pair<std::string_view, std::string_view>>& variables() const { return m_variables; }

private:
    std::vector<std::pair<std::string_view, std::string_view>> m_variables;
};

struct Request {
    Engine& engine;
    platform::UniqueFd input;   // the request body, or invalid
    platform::UniqueFd output;  // the whole CGI response goes here, or invalid
    Environment environment;
};

class RequestHandler {
public:
    virtual ~RequestHandler() = default;
    // Answers one request. Runs on the host's thread, on several at once.
    virtual void handle(Request& request) = 0;
};

}  // namespace corvane::lifecycle

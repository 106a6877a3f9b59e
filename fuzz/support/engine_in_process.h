// The engine started inside a fuzzer's own process, wired exactly as
// Corvane.so wires it (its own composition root), over a throw-away tree under /tmp with the shipped templates.
// Fuzz targets that send whole requests through Main share it.
#pragma once

#include <string>
#include <string_view>

namespace corvane::lifecycle {
class Engine;
}

namespace corvane::fuzzing {

// Starts the engine once per process; false when that failed. The tree is
// removed and the engine shut down at exit.
bool start_engine_in_process();
// The root of the tree: Corvane.ini, Templates/, Users/, Temp/, Logs/.
const std::string& engine_root();
// The running engine.
lifecycle::Engine& engine();

// One form request through Main (body form-encoded, at most a pipe's
// buffer); returns the response as the engine wrote it. Traps when the
// engine leaves either descriptor open.
std::string engine_request(const std::string& query, const std::string& cookie, const std::string& body);

// The text up to the next line feed, removed from rest.
std::string_view next_line(std::string_view& rest);

}  // namespace corvane::fuzzing

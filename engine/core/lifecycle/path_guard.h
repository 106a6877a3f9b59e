// Checks on configured directories before the engine deletes anything in
// them: a TempDir set by mistake to "/", to the installation directory or to
// the users directory must never cost anyone their files.
#pragma once

#include <string>
#include <vector>

namespace corvane::lifecycle {

// True when dir is one of others or lies above one of them, after resolving
// ".", "..", repeated "/" and symbolic links of the parts that exist.
bool contains_any(const std::string& dir, const std::vector<std::string>& others);

}  // namespace corvane::lifecycle

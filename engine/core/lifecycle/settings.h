// The engine's settings in Corvane.ini: every key the engine knows, with its
// default, and the normalisation that writes them all back at start-up so
// the file always lists every key with its effective value.
//
// Reads go through the INI module, so a missing file or key gives the
// default, and a change made by an administrator is seen at the next read.
// Directory defaults lie under /opt/corvane.
//
// What it does not do: the per-user files (accounts), the web server's own
// sections, and the [Other] keys the engine writes itself (LatestLogFile).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "common/ini/profile.h"

namespace corvane::codec {
class PasswordCodec;
}
namespace corvane::log {
class Logger;
}

namespace corvane::lifecycle {

constexpr std::string_view product_version = "2.0.1";
constexpr std::string_view install_dir = "/opt/corvane";

enum class Kind { number, text, yes_no, password };

struct Setting {
    std::string_view section;
    std::string_view key;
    Kind kind;
    std::string_view text_default;  // text, password
    int number_default = 0;         // number; yes/no: 1 = Yes
};

// The normalised keys in the order they are written.
std::span<const Setting> known_settings();
// The entry for section/key (compared without regard to case), or nullptr.
const Setting* find_setting(std::string_view section, std::string_view key);

// Typed reads with the defaults of the table. The key must be in the table.
std::string text_setting(const ini::Profile& ini, std::string_view section, std::string_view key);
int number_setting(const ini::Profile& ini, std::string_view section, std::string_view key);
bool yes_no_setting(const ini::Profile& ini, std::string_view section, std::string_view key);

// The directories of [Directories].
struct Directories {
    std::string base;
    std::string log;
    std::string temp;
    std::string templates;
    std::string users;
    std::string spelling;
};
Directories read_directories(const ini::Profile& ini);

// Writes [Version] Version, then every key of the table with its effective
// value, in one replacement of the file. Password keys whose value begins
// with "-" are plain text: the rest is scrambled and written in its place.
// Problems are logged; false when the file could not be written.
bool normalise(const ini::Profile& ini, codec::PasswordCodec& codec, log::Logger& log);

}  // namespace corvane::lifecycle

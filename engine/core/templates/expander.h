// Writing a prepared template: text runs go out as they are, each tag
// "<$NAME$>" is handed to the tag provider, and IF/ELSE/ENDIF tags switch
// the output on and off.
//
// Conditions read "IF SYS:section:key" (a yes/no setting of the engine's
// INI file) or "IF USR:section:key" (of the session user's User.ini; false
// without a session), with an optional "!" in front that negates the result;
// anything else is false. Up to 32 conditions may be open at once: an IF
// beyond that, and an ELSE or ENDIF with none open, reach the tag provider
// as ordinary names. A tag of 80 bytes or more is dropped. An unterminated
// "<$" is written as text.
//
// The expander keeps no state between calls; the tag provider does whatever
// a tag means (it may expand sub-templates through expand() again).
#pragma once

#include <cstddef>
#include <string_view>

namespace corvane::cgi {
class OutputStream;
}
namespace corvane::ini {
class Profile;
}

namespace corvane::templates {

constexpr int max_open_conditions = 32;
// Tags of this length or more are dropped.
constexpr std::size_t max_tag_size = 80;

class TagProvider {
public:
    virtual ~TagProvider() = default;
    // Writes the value of one tag: its text between "<$" and "$>", already
    // in upper case.
    virtual void expand_tag(std::string_view tag, cgi::OutputStream& out) = 0;
};

// Everything one expansion needs from the request.
struct ExpandContext {
    cgi::OutputStream& out;
    TagProvider& tags;
    const ini::Profile* global = nullptr;  // the engine's INI file, for SYS:
    const ini::Profile* user = nullptr;    // the session user's User.ini, for USR:
};

void expand(std::string_view text, const ExpandContext& context);

bool evaluate_condition(std::string_view condition, const ini::Profile* global, const ini::Profile* user);

}  // namespace corvane::templates

#include "engine/core/templates/top_level_tags.h"

#include "common/text/strings.h"
#include "engine/core/cgi/encoding.h"
#include "engine/core/cgi/field_table.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/templates/languages.h"
#include "engine/core/templates/template_store.h"

namespace corvane::templates {

bool TopLevelTags::expand_known(std::string_view tag, cgi::OutputStream& out)
{
    const cgi::FieldTable& fields = m_request.fields();
    if (tag == "ACTION") {
        cgi::escape_html(fields.variable("SCRIPT_NAME"), out);
        out.write(m_request.view() == new_user_view ? "?View=NewUser" : "?View=Main");
    } else if (tag == "CHARSET") {
        cgi::escape_html_formatted(m_store.language_string(63, m_request.language(), m_log), out);
    } else if (tag == "ERRORMESG") {
        cgi::escape_html_formatted(m_request.take_error_message(), out);
    } else if (tag == "LANG") {
        cgi::escape_html(m_request.language(), out);
    } else if (tag == "LANGOPTIONS") {
        out.write(m_store.language_options());
    } else if (tag == "STATUSMESG") {
        cgi::escape_html_formatted(m_request.take_status_message(), out);
    } else if (tag == "USER") {
        if (!m_request.user_name().empty()) {
            cgi::escape_html_formatted(m_request.user_name(), out);
        } else if (m_request.view() == new_user_view) {
            cgi::escape_html(fields.value("User"), out);
        } else {
            std::string_view cookie = cgi::cookie_value(fields.variable("HTTP_COOKIE"), "User");
            cgi::escape_html(text::cut(cookie, max_user_cookie), out);
        }
    } else {
        return false;
    }
    return true;
}

}  // namespace corvane::templates

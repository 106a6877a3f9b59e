#include "engine/core/dispatch/session_tags.h"

#include "common/log/log_texts.h"
#include "common/text/strings.h"
#include "engine/core/cgi/encoding.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/request_steps.h"
#include "engine/core/dispatch/views.h"
#include "engine/core/lifecycle/settings.h"

namespace corvane::dispatch {

SessionTags::SessionTags(templates::TemplateStore& store, RequestContext& request, TagValues& more)
    : m_top(store, request, request.log()), m_request(request), m_more(more)
{
}

void SessionTags::write_link(cgi::OutputStream& out)
{
    cgi::escape_html(m_request.variable("SCRIPT_NAME"), out);
    out.write("?Session=");
    if (m_request.session())
        out.write(m_request.session()->id());
}

void SessionTags::expand_tag(std::string_view tag, cgi::OutputStream& out)
{
    const cgi::FieldTable& fields = m_request.fields();
    if (tag == "LINK") {
        write_link(out);
    } else if (tag == "ACTION") {
        write_link(out);
        out.write("&View=");
        // The Error page's Continue must not lead back into the failure.
        std::string_view name = m_request.view() == view_error ? view_name(view_list) : view_name(m_request.view());
        if (name.empty())
            cgi::escape_html(cgi::url_encoded(fields.value("View")), out);
        else
            out.write(name);
        if (fields.present("NoKeepAlive"))
            out.write("&NoKeepAlive=Yes");
    } else if (tag == "FRAMEVIEW") {
        const std::string& frame = fields.value("FrameView");
        if (text::trim(frame).empty() || text::iequals(frame, "Main"))
            out.write("List");
        else
            cgi::escape_html(cgi::url_encoded(frame), out);
    } else if (tag == "HELP") {
        if (text::iequals(m_request.language(), "en")) {
            out.write("/help/");
        } else {
            write_link(out);
            out.write("&View=HELP");
        }
    } else if (tag == "REDIRECTTIME") {
        out.write(std::to_string(lifecycle::number_setting(m_request.settings(), "General", "RedirectWait")));
    } else if (m_top.expand_known(tag, out)) {
        // one of the tags every page knows
    } else if (!m_more.expand(tag, m_request, out)) {
        std::string shown = text::without_controls(tag);
        m_request.log().line(log::Level::detail, log::texts::unable_to_expand, shown.c_str());
    }
}

}  // namespace corvane::dispatch

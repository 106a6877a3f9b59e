// The tag values of pages inside a session: the page frame's tags LINK,
// ACTION, FRAMEVIEW, HELP and REDIRECTTIME here, the seven tags every page
// knows (USER, LANG, CHARSET, STATUSMESG, ERRORMESG, LANGOPTIONS) through
// TopLevelTags, and everything else through the TagValues of the feature
// modules. A tag nobody knows writes nothing and logs "Unable to expand".
//
// On the Error page ACTION leads to the List view, so that its Continue
// never repeats the request that failed.
//
// Values that come from the request (the script name, FrameView, an
// unknown View) are escaped for the attribute or URL they end up in; the
// session id and the view names are the engine's own.
#pragma once

#include <string_view>

#include "engine/core/templates/expander.h"
#include "engine/core/templates/top_level_tags.h"

namespace corvane::templates {
class TemplateStore;
}

namespace corvane::dispatch {

class RequestContext;
class TagValues;

class SessionTags final : public templates::TagProvider {
public:
    // request must have a session.
    SessionTags(templates::TemplateStore& store, RequestContext& request, TagValues& more);

    void expand_tag(std::string_view tag, cgi::OutputStream& out) override;

private:
    void write_link(cgi::OutputStream& out);

    templates::TopLevelTags m_top;
    RequestContext& m_request;
    TagValues& m_more;
};

}  // namespace corvane::dispatch

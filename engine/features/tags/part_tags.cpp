// Tags of a message's attachments: ATTACHMENTDATA and the tags of its rows,
// which describe the MIME part that is the current item.
#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/cgi/encoding.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/lifecycle/settings.h"
#include "engine/features/tags/tags.h"
#include "engine/store/render/body_renderer.h"

namespace corvane::tags {

namespace {

constexpr int string_inline = 29;

// The parts of the current message, when it has them.
const store::PartList* parts_of(TagCall& call)
{
    store::MessageEntry* entry = current_entry(call);
    if (!entry || !entry->has(store::flags::multipart) || !entry->has(store::flags::downloaded))
        return nullptr;
    return &call.user.part_list(*entry);
}

const store::PartRecord* current_part(TagCall& call)
{
    const store::PartList* parts = parts_of(call);
    long item = call.session.current_item;
    if (!parts || item < 0 || static_cast<std::size_t>(item) >= parts->size())
        return nullptr;
    return &(*parts)[static_cast<std::size_t>(item)];
}

bool shown_inline(TagCall& call, const store::PartList& parts, const store::PartRecord& part)
{
    long max_inline = lifecycle::number_setting(call.request.settings(), "General", "MaxInlineAttachSize");
    return render::is_inline(parts, part, call.user.settings().multipart_prefer, max_inline);
}

void attachment_data(TagCall& call)
{
    const store::PartList* parts = parts_of(call);
    if (!parts)
        return;
    RowTemplate row(call, "AttachmentData");
    if (!row)
        return;
    ItemRow item(call);
    bool all = call.user.settings().list_all_attach;
    for (std::size_t i = 0; i < parts->size(); ++i) {
        if (!all && shown_inline(call, *parts, (*parts)[i]))
            continue;
        item.set(static_cast<long>(i));
        row.write();
    }
}

// The address of a part: the script name, the file name (so a browser
// saves it under that name), the session and the part again as a field.
void write_part_url(TagCall& call, const store::PartRecord& part)
{
    std::string name = cgi::url_encoded(part.file_name);
    write_attribute(call, call.request.variable("SCRIPT_NAME"));
    call.out.write("/");
    write_attribute(call, name);
    call.out.write("?Session=");
    call.out.write(call.session.id());
    call.out.write("&amp;View=Attachment&amp;Filename=");
    write_attribute(call, name);
}

void attach_image(TagCall& call)
{
    const store::PartRecord* part = current_part(call);
    if (!part || !text::istarts_with(part->content_type, "image"))
        return;
    call.out.write("<A HREF=\"");
    write_part_url(call, *part);
    call.out.write("\"><IMG BORDER=0 ALT=\"\" SRC=\"");
    write_part_url(call, *part);
    call.out.write("\"></A><BR>\r\n");
}

void attach_link(TagCall& call)
{
    if (const store::PartRecord* part = current_part(call))
        write_part_url(call, *part);
}

void attach_inline(TagCall& call)
{
    const store::PartList* parts = parts_of(call);
    const store::PartRecord* part = current_part(call);
    if (parts && part && shown_inline(call, *parts, *part))
        write_text(call, language_string(call, string_inline));
}

void attach_number(TagCall& call)
{
    if (const store::PartRecord* part = current_part(call)) {
        write_number(call, part->part_number);
        call.out.write(".");
        write_number(call, part->sub_part);
    }
}

}  // namespace

void add_part_tags(TagTable& table)
{
    table.add("ATTACHMENTDATA", attachment_data);
    table.add("ATTACHIMAGE", attach_image);
    table.add("ATTACHLINK", attach_link);
    table.add("ATTACHINLINE", attach_inline);
    table.add("ATTACHNUM", attach_number);
    table.add("ATTACHFILE", [](TagCall& call) {
        if (const store::PartRecord* part = current_part(call))
            write_text(call, part->file_name);
    });
    table.add("ATTACHSIZE", [](TagCall& call) {
        if (const store::PartRecord* part = current_part(call))
            write_number(call, kilobytes(part->decoded_size));
    });
    table.add("ATTACHTYPE", [](TagCall& call) {
        if (const store::PartRecord* part = current_part(call))
            write_text(call, part->content_type);
    });
}

}  // namespace corvane::tags

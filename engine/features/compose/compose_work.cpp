#include "engine/features/compose/compose_work.h"

#include <algorithm>
#include <set>

#include "common/log/log_file.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/core/cgi/field_table.h"
#include "engine/features/compose/message_text.h"
#include "engine/features/compose/quoting.h"
#include "engine/features/compose/reply_addresses.h"
#include "engine/store/addrbook/address_book.h"
#include "engine/store/message_index/message_index.h"
#include "engine/store/mime/header_list.h"
#include "engine/store/mime/line_reader.h"

namespace corvane::compose {
namespace {

constexpr std::string_view kCheckBoxes[] = {"ConfirmDelivery", "ConfirmRead", "ComposeUrgent"};
constexpr std::size_t kMaxPrefix = 7;
// Lines of a signature or of the text being quoted, read at once.
constexpr std::size_t kMaxTextLine = 1u << 20;

bool is_header_field(std::string_view name)
{
    return std::any_of(header_fields.begin(), header_fields.end(),
                       [&](std::string_view f) { return text::iequals(f, name); });
}

// The signature of a mailbox: a line feed, then its lines.
std::string signature_block(const std::string& user_dir, std::string_view mailbox)
{
    if (!platform::is_plain_name(mailbox))
        return {};
    auto reader = mime::LineReader::open(platform::join_path(user_dir, std::string(mailbox) + ".sig"));
    if (!reader)
        return {};
    std::string block = "\n";
    std::string line;
    while (reader->next(line, kMaxTextLine) && block.size() < (1u << 20))
        block += line + "\n";
    return block;
}

const mailboxes::MailboxRecord* find_mailbox(ComposeAccount& account, std::string_view name)
{
    return account.mailboxes ? account.mailboxes->find(name) : nullptr;
}

mailboxes::MailboxRecord default_mailbox(ComposeAccount& account)
{
    return account.mailboxes ? account.mailboxes->default_mailbox() : mailboxes::MailboxRecord{};
}

// A name for a part that becomes an attachment: its own, made safe, or one
// made from its number and type; never one already used.
std::string attachment_name_for(const store::PartRecord& part, std::size_t index, const ComposeAccount& account,
                                std::set<std::string>& used)
{
    std::string name = ComposeDirectory::attachment_name(part.file_name);
    if (name.empty()) {
        name = "attachment-" + std::to_string(index + 1);
        if (account.receiver.types)
            name += "." + std::string(account.receiver.types->extension_of(part.content_type));
    }
    std::string candidate = name;
    for (int n = 2; used.count(text::lower(candidate)); ++n) {
        const std::size_t dot = name.rfind('.');
        candidate = dot == std::string::npos || dot == 0
                        ? name + " (" + std::to_string(n) + ")"
                        : name.substr(0, dot) + " (" + std::to_string(n) + ")" + name.substr(dot);
    }
    used.insert(text::lower(candidate));
    return candidate;
}

// Every part but skip becomes an attachment with its content type beside it.
void parts_to_attachments(const ComposeDirectory& dir, ComposeAccount& account, store::MessageEntry& message,
                          std::size_t skip)
{
    const std::string path = account.index->message_path(message);
    const store::PartList& parts = receiver::part_list(*account.index, message, account.receiver);
    std::set<std::string> used;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const store::PartRecord& part = parts[i];
        if (i == skip || text::istarts_with(part.content_type, "multipart/"))
            continue;
        const std::string name = attachment_name_for(part, i, account, used);
        if (!write_part_bytes(path, part, dir.file(name))) {
            (void)platform::remove_file(dir.file(name));
            continue;
        }
        (void)dir.set_content_type(name, part.content_type);
    }
}

// Decodes the text to quote (or to open) into out_path; the index of the
// part used, or parts.size() for the whole body. nullopt when there is none.
std::optional<std::size_t> write_original_text(ComposeAccount& account, store::MessageEntry& message,
                                               const std::string& out_path, bool first_part)
{
    const std::string path = account.index->message_path(message);
    if (path.empty())
        return std::nullopt;
    if (!message.has(store::flags::multipart))
        return write_message_text(path, nullptr, out_path) ? std::optional<std::size_t>(0) : std::nullopt;
    const store::PartList& parts = receiver::part_list(*account.index, message, account.receiver);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (first_part ? i == 0 : text::istarts_with(parts[i].content_type, "text")) {
            if (write_message_text(path, &parts[i], out_path))
                return i;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string sender_identity(const mailboxes::MailboxRecord& mailbox)
{
    if (!mailbox.full_name.empty())
        return "\"" + mailbox.full_name + "\" <" + mailbox.email + ">";
    return "<" + mailbox.email + ">";
}

void clear_compose(const ComposeDirectory& dir, cgi::FieldTable& fields, std::string_view query_string)
{
    (void)dir.clear();
    for (std::string_view name : {"CC", "BCC", "Subject"})
        fields.set(name, "");
    if (query_string.find("&To=") == std::string_view::npos)
        fields.set("To", "");
}

void create_compose(const ComposeDirectory& dir, cgi::FieldTable& fields, ComposeAccount& account,
                    store::MessageEntry* message, ComposeType type, std::string_view query_string, log::Logger& log)
{
    log.line(log::Level::detail, "Creating compose file, type = %d", static_cast<int>(type));
    clear_compose(dir, fields, query_string);
    (void)dir.ensure();
    if (!message || !account.index) {
        const mailboxes::MailboxRecord mailbox = default_mailbox(account);
        fields.set("From", sender_identity(mailbox));
        (void)dir.write_body(signature_block(account.directory, mailbox.mailbox));
        return;
    }

    const mailboxes::MailboxRecord* named = find_mailbox(account, message->mailbox);
    const mailboxes::MailboxRecord mailbox = named ? *named : default_mailbox(account);
    fields.set("From", sender_identity(mailbox));
    fields.set("Mailbox", mailbox.mailbox);

    mime::HeaderList header = mime::read_header(account.index->message_path(*message));
    if (header.is_absent_or_empty("From"))
        header.set("From", message->from);
    if (header.is_absent_or_empty("To"))
        header.set("To", message->to);
    if (header.is_absent_or_empty("Subject"))
        header.set("Subject", message->subject);
    if (header.is_absent_or_empty("Date") && message->date != 0)
        header.set("Date", format_mail_date(static_cast<std::time_t>(message->date)));
    const std::string subject = header.value("Subject");
    const std::string number = std::to_string(message->number);

    if (type == ComposeType::forward) {
        fields.set("Subject", text::istarts_with(subject, "Fwd:") ? subject : "Fwd: " + subject);
        fields.set("ForwardMessage", number);
    } else if (type == ComposeType::reply || type == ComposeType::reply_all) {
        const OriginalSenders senders{header.value("Reply-To"), header.value("From"), header.value("To"),
                                      header.value("CC")};
        fields.set("To", reply_recipients(senders, type == ComposeType::reply ? ReplyKind::sender : ReplyKind::all,
                                          fields.value("From"),
                                          account.add_replies_to_addr_book ? account.addresses : nullptr));
        fields.set("Subject", text::istarts_with(subject, "Re:") ? subject : "Re: " + subject);
        fields.set("ReplyMessage", number);
        if (!header.value("Message-ID").empty())
            fields.set("In-Reply-To", header.value("Message-ID"));
    }

    const auto used = write_original_text(account, *message, dir.quote_path(), false);
    std::string body = signature_block(account.directory, mailbox.mailbox);
    if (used) {
        body += "\n\n-----Original Message-----\n";
        for (const char* name : {"From", "To", "Date", "Subject"})
            body += std::string(name) + ": " + header.value(name) + "\n";
        body += "\n";
        const std::string prefix =
            text::bounded(type == ComposeType::forward ? account.forward_prefix : account.reply_prefix, kMaxPrefix);
        if (auto reader = mime::LineReader::open(dir.quote_path())) {
            std::string line;
            while (reader->next(line, kMaxTextLine))
                quote_line(line, prefix, account.compose_width, body);
        }
        (void)platform::remove_file(dir.quote_path());
    }
    (void)dir.write_body(body);

    if (type == ComposeType::forward && message->has(store::flags::multipart))
        parts_to_attachments(dir, account, *message, used.value_or(static_cast<std::size_t>(-1)));
}

void open_draft(const ComposeDirectory& dir, cgi::FieldTable& fields, ComposeAccount& account,
                store::MessageEntry& draft, log::Logger& log)
{
    log.message(log::Level::detail, "Loading compose file...");
    if (!account.index)
        return;
    (void)dir.clear();
    (void)dir.ensure();
    const mime::HeaderList header = mime::read_header(account.index->message_path(draft));
    for (const mime::HeaderField& f : header.fields()) {
        if (is_header_field(f.name) || text::iequals(f.name, "Advanced"))
            fields.set(f.name, f.value);
    }
    if (!header.value("Return-Receipt-To").empty())
        fields.set("ConfirmDelivery", "Yes");
    if (!header.value("X-Confirm-Reading-To").empty() || !header.value("Disposition-Notification-To").empty())
        fields.set("ConfirmRead", "Yes");
    if (header.value("X-Priority").rfind('1', 0) == 0 || text::istarts_with(header.value("Priority"), "urgent"))
        fields.set("ComposeUrgent", "Yes");

    if (!write_original_text(account, draft, dir.body_path(), true))
        (void)dir.write_body("");
    if (draft.has(store::flags::multipart))
        parts_to_attachments(dir, account, draft, 0);
    fields.set("SourceMessage", std::to_string(draft.number));
    if (fields.value("Mailbox").empty())
        fields.set("Mailbox", draft.mailbox);
}

void merge_headers(const ComposeDirectory& dir, cgi::FieldTable& fields, MergeMode mode, bool advanced_view)
{
    for (const auto& header : dir.read_headers()) {
        const auto& name = header.first;
        const auto& value = header.second;
        if (!is_header_field(name))
            continue;
        if (mode == MergeMode::fill_empty) {
            if (fields.missing_or_empty(name))
                fields.set(name, value);
            continue;
        }
        if (fields.present(name))
            continue;
        if (advanced_view && std::any_of(std::begin(kCheckBoxes), std::end(kCheckBoxes),
                                         [&](std::string_view box) { return text::iequals(box, name); }))
            continue;
        fields.set(name, value);
    }
}

void save_headers(const ComposeDirectory& dir, const cgi::FieldTable& fields)
{
    (void)dir.ensure();
    (void)dir.save_headers([&](std::string_view name) -> std::string_view { return fields.value(name); });
}

bool resolve_numeric_from(cgi::FieldTable& fields, mailboxes::MailboxList& mailboxes)
{
    const std::string& from = fields.value("From");
    const auto number = text::parse_number(from);
    if (!number || std::to_string(*number) != from)
        return false;
    const auto& records = mailboxes.records();
    const mailboxes::MailboxRecord mailbox = (*number >= 0 && static_cast<std::size_t>(*number) < records.size())
                                                 ? records[static_cast<std::size_t>(*number)]
                                                 : mailboxes.default_mailbox();
    fields.set("Mailbox", mailbox.mailbox);
    fields.set("From", sender_identity(mailbox));
    return true;
}

MessageFields message_fields(const cgi::FieldTable& fields, bool advanced_view)
{
    MessageFields m;
    m.from = fields.value("From");
    m.to = fields.value("To");
    m.cc = fields.value("CC");
    m.bcc = fields.value("BCC");
    m.reply_to = fields.value("Reply-To");
    m.subject = fields.value("Subject");
    m.in_reply_to = fields.value("In-Reply-To");
    m.confirm_delivery = !fields.value("ConfirmDelivery").empty();
    m.confirm_read = !fields.value("ConfirmRead").empty();
    m.urgent = !fields.value("ComposeUrgent").empty();
    m.reply_message = fields.value("ReplyMessage");
    m.forward_message = fields.value("ForwardMessage");
    m.spell_language = fields.value("SpellLanguage");
    m.mailbox = fields.value("Mailbox");
    m.advanced = advanced_view;
    return m;
}

store::MessageEntry* store_message(const ComposeDirectory& dir, const cgi::FieldTable& fields, ComposeAccount& account,
                                   const std::string& folder, bool draft)
{
    if (!account.index)
        return nullptr;
    auto reader = mime::LineReader::open(dir.message_path());
    if (!reader)
        return nullptr;
    receiver::MessageReceiver receiver(*account.index, folder, account.receiver);
    receiver.begin(
        static_cast<std::uint32_t>(std::min<std::uint64_t>(platform::file_size(dir.message_path()), 0xffffffffu)),
        receiver::StoreMode::whole);
    std::string line;
    while (reader->next(line, receiver::max_pending_line))
        receiver.line(line);
    store::MessageEntry* entry = receiver.finish();
    if (!entry)
        return nullptr;
    entry->flags |= store::flags::downloaded;
    if (draft)
        entry->flags |= store::flags::draft;
    else
        entry->flags = (entry->flags & ~store::flags::draft) | store::flags::read;
    entry->flags &= ~(store::flags::new_message | store::flags::confirm_requested);
    std::string mailbox = fields.value("Mailbox");
    if (mailbox.empty() && account.mailboxes) {
        for (const auto& record : account.mailboxes->records()) {
            if (text::iequals(sender_identity(record), fields.value("From"))) {
                mailbox = record.mailbox;
                break;
            }
        }
    }
    entry->mailbox = text::bounded(text::without_controls(mailbox), mailboxes::max_mailbox_name);
    account.index->mark_dirty();
    return entry;
}

}  // namespace corvane::compose

#include "engine/features/mail_check/mail_check.h"

#include "common/platform/clock.h"
#include "engine/core/dispatch/message_format.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/lifecycle/engine.h"
#include "engine/core/sessions/session.h"

namespace corvane::mail_check {

namespace {

using lifecycle::StatusField;

// Language strings of the failures.
constexpr int message_not_fetched = 46;
constexpr int logon_refused = 52;
constexpr int no_connection = 53;
constexpr int check_failed = 54;

// The progress of a running POP3 session, in the user session for as long
// as it runs.
class Registration {
public:
    Registration(sessions::Session& session, std::shared_ptr<const pop3::Progress> progress) : m_session(session)
    {
        m_session.set_retrieval(std::move(progress));
    }
    ~Registration() { m_session.set_retrieval(nullptr); }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    sessions::Session& m_session;
};

enum class Messages { shown, none };

int failure_string(pop3::ResultCode result)
{
    switch (result) {
    case pop3::ResultCode::login_rejected:
        return logon_refused;
    case pop3::ResultCode::could_not_connect:
        return no_connection;
    default:
        return check_failed;
    }
}

void mail_arrived(accounts::UserRecord& user, std::uint32_t retrieved)
{
    if (retrieved > 0)
        (void)user.add_statistic("Received", retrieved);
    (void)user.write_mail_totals(user.mail_totals());
}

void check_failed_for(dispatch::RequestContext& request, accounts::UserRecord& user)
{
    request.engine().count(StatusField::pop_errors);
    (void)user.add_statistic("RecvErrors", 1);
}

// One mailbox's new mail.
void check_mailbox(dispatch::RequestContext& request, const mailboxes::MailboxRecord& mailbox,
                   const pop3::Settings& settings, Messages messages)
{
    accounts::UserRecord& user = *request.user();
    pop3::Pop3Session pop(mailbox, user.mail().index(), request.log(), settings);
    Registration registered(*request.session(), pop.progress());
    request.engine().count(StatusField::pop_sessions);
    if (pop.get_mail(user.mail().filter_context())) {
        mail_arrived(user, pop.retrieved());
        return;
    }
    check_failed_for(request, user);
    if (messages == Messages::shown) {
        int number = failure_string(pop.result());
        request.set_error_message(dispatch::format_language_string(number, request.language_string(number),
                                                                   {std::string_view(mailbox.mailbox)}, request.log()));
    }
}

void check_every_mailbox(dispatch::RequestContext& request, Messages messages)
{
    accounts::UserRecord* user = request.user();
    if (!user || !request.session())
        return;
    const pop3::Settings settings = pop3_settings(request.settings(), *user);
    // A copy: the records must not change under a session that runs long.
    const auto mailboxes = user->mail().mailboxes().records();
    for (const auto& mailbox : mailboxes)
        check_mailbox(request, mailbox, settings, messages);
}

void delete_on_server(store::UserMail& mail, const mailboxes::MailboxRecord& mailbox, const pop3::Settings& settings,
                      log::Logger& log, sessions::Session* session)
{
    pop3::Pop3Session pop(mailbox, mail.index(), log, settings);
    std::optional<Registration> registered;
    if (session)
        registered.emplace(*session, pop.progress());
    (void)pop.delete_on_server();
}

// The current message of the request, when the user can still see it.
store::MessageEntry* current_entry(dispatch::RequestContext& request)
{
    sessions::Session* session = request.session();
    accounts::UserRecord* user = request.user();
    if (!session || !user || !session->current_message)
        return nullptr;
    store::MessageEntry* entry = user->mail().index().find(*session->current_message);
    return entry && !entry->folder.empty() ? entry : nullptr;
}

}  // namespace

pop3::Settings pop3_settings(const ini::Profile& settings, const accounts::UserRecord& user)
{
    pop3::Settings s = pop3::Settings::from(settings);
    s.receiver = user.receiver_options();
    return s;
}

void MailCheck::list_view(dispatch::RequestContext& request)
{
    accounts::UserRecord* user = request.user();
    sessions::Session* session = request.session();
    if (!user || !session)
        return;
    if (request.fields().present("EmptyTrash")) {
        const pop3::Settings settings = pop3_settings(request.settings(), *user);
        const auto mailboxes = user->mail().mailboxes().records();
        for (const auto& mailbox : mailboxes) {
            if (mailbox.delete_mode != 0)
                delete_on_server(user->mail(), mailbox, settings, request.log(), session);
        }
        (void)user->write_mail_totals(user->mail_totals());
        return;
    }
    check_every_mailbox(request, Messages::shown);
    session->last_check = platform::now();
    session->just_retrieved.store(true);
}

void MailCheck::message_view(dispatch::RequestContext& request)
{
    sessions::Session* session = request.session();
    if (!session || session->just_retrieved.load())
        return;
    (void)fetch_current_message(request);
    session->just_retrieved.store(true);
}

void MailCheck::status_check(dispatch::RequestContext& request)
{
    check_every_mailbox(request, Messages::none);
}

bool fetch_current_message(dispatch::RequestContext& request)
{
    store::MessageEntry* entry = current_entry(request);
    if (!entry)
        return false;
    if (entry->has(store::flags::downloaded))
        return true;
    accounts::UserRecord& user = *request.user();
    const mailboxes::MailboxRecord* found = user.mail().mailboxes().find(entry->mailbox);
    if (!found)
        return false;
    const mailboxes::MailboxRecord mailbox = *found;
    pop3::Pop3Session pop(mailbox, user.mail().index(), request.log(), pop3_settings(request.settings(), user));
    Registration registered(*request.session(), pop.progress());
    request.engine().count(StatusField::pop_sessions);
    if (pop.get_single(*entry)) {
        mail_arrived(user, pop.retrieved());
        return true;
    }
    check_failed_for(request, user);
    request.set_error_message(request.language_string(message_not_fetched));
    return false;
}

void ServerDeletion::delete_waiting(store::UserMail& mail, const mailboxes::MailboxRecord& mailbox, log::Logger& log)
{
    ini::Profile settings(m_config_path);
    delete_on_server(mail, mailbox, pop3::Settings::from(settings), log, nullptr);
}

}  // namespace corvane::mail_check

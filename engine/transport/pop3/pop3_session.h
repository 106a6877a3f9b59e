// A POP3 session: one connection to one mailbox of a user, driven line by
// line by a state machine on the line client, in one of three modes:
//
// - get_mail(): fetches every message whose server identifier is not yet in
//   the mailbox's UID file into the store; messages above [PopClient]
//   RetrCutoff bytes arrive as header only (TOP n 0), the rest whole (RETR);
//   with `Delete` mode 2 each whole message is deleted on the server right
//   after it was stored.
// - get_single(): fetches the whole of one message that arrived as header
//   only, and gives its files to the copies of it that wait for them.
// - delete_on_server(): deletes on the server what the user deleted here.
//
// Mail is stored through the message receiver, so the folder comes from the
// user's filters; a message cut off in the middle (a close, a time-out) is
// discarded by the receiver and its entry stays "not downloaded". The UID
// file is rewritten only after a complete listing, and only after the
// message index is on disk, so a crash in between can never leave a UID
// file that names messages the index does not know. For the same reason
// DELE commands are committed (QUIT) only once the index is saved.
//
// Security: the mailbox's `TLS` key says "Yes" (TLS from the first byte),
// "STARTTLS" (STLS after the greeting; a server that refuses it ends the
// session, the password never travels in the clear) or "No"; without the
// key, port 995 means TLS. Certificates are verified (system trust store
// plus [PopClient] CAFile) and must name the host.
//
// Every command is logged at level 1 as "POP3 <<< ..." except the
// password ("POP3 <<< PASS ****"); replies and listing lines as
// "POP3 >>> ..."; message data never. What the server sends is bounded: a
// reply line of 4096 bytes, a listing of max_listing lines, a message of
// twice its announced size plus 1 MiB (and never more than
// max_message_bytes).
//
// Runs on the thread of the request or task that needs it; nothing of it
// is shared except the progress record.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/ini/profile.h"
#include "common/log/log_file.h"
#include "engine/store/mailboxes/mailbox_list.h"
#include "engine/store/message_index/message_index.h"
#include "engine/store/receiver/message_receiver.h"
#include "engine/transport/line_client/line_client.h"
#include "engine/transport/pop3/progress.h"

namespace corvane::pop3 {

// Session results, as the callers tell them apart.
enum class ResultCode : int {
    none = 0,
    could_not_connect = 1,  // also: the TLS handshake failed
    timed_out = 2,
    wait_error = 3,
    closed_by_server = 5,
    login_rejected = 7,  // USER or PASS refused
    unexpected_reply = 8,
    not_active = 9,
};

// Longest reply line (the receive buffer of the protocol).
constexpr std::size_t max_reply_line = 4096;
// Most UIDL lines examined in one session.
constexpr std::uint32_t max_listing = 1'000'000;
// No message is stored beyond this many bytes.
constexpr std::uint64_t max_message_bytes = 1ull << 30;

enum class Security { plain, tls, starttls };
// What a mailbox record's `TLS` key and port ask for.
Security security_of(const mailboxes::MailboxRecord& mailbox);

struct Settings {
    std::chrono::seconds timeout{30};  // [PopClient] Timeout
    std::uint32_t retr_cutoff = 4096;  // [PopClient] RetrCutoff; 0: every message whole
    std::string bind_address;          // [WebServer] BindAddress
    std::string ca_file;               // [PopClient] CAFile
    receiver::ReceiverOptions receiver;

    // The keys above from the engine's settings (receiver options are the
    // caller's).
    static Settings from(const ini::Profile& engine);
};

class Pop3Session final : public transport::LineClient {
public:
    Pop3Session(const mailboxes::MailboxRecord& mailbox, store::MessageIndex& index, log::Logger& log,
                Settings settings);
    ~Pop3Session() override;

    // The record a page reads while the session runs; valid from creation.
    std::shared_ptr<const Progress> progress() const { return m_progress; }

    // Normal retrieval. True when the session worked through its whole list
    // (or the mailbox is not active: no failure).
    bool get_mail(const receiver::FilterContext& filters);
    // True when the session completed and entry is now downloaded.
    bool get_single(store::MessageEntry& entry);
    // Deletes on the server the messages of this mailbox that wait for it
    // (entries without a folder); always true. The entries leave the index
    // once the server has committed the deletion, or found nothing to
    // delete; after a failure they stay for the next attempt.
    bool delete_on_server();

    ResultCode result() const { return m_result; }
    std::uint32_t retrieved() const { return m_retrieved; }

protected:
    void on_line(std::string_view line) override;
    void on_close() override;
    void on_receive_error(int error) override;
    void on_overflow() override;
    bool on_line_piece(std::string_view piece) override;

private:
    enum class State {
        greeting,
        stls_sent,
        user_sent,
        pass_sent,
        stat_sent,
        uidl_sent,
        uidl_listing,
        list_sent,
        top_sent,
        retr_sent,
        top_data,
        retr_data,
        dele_after_retr,
        dele_sent,
        quit_sent,
    };
    struct Listed {
        std::uint32_t number;
        std::string id;
    };

    void connection();
    void command(std::string_view text, State next);
    void command_logged_as(std::string_view text, std::string_view logged, State next);
    void quit();
    void rejected(std::string_view reply);
    void upgrade();
    void listing_line(std::string_view line);
    void end_of_listing();
    void next_message();
    void next_deletion();
    void fetch(std::string_view list_reply);
    void data_line(std::string_view line);
    bool count_data(std::size_t bytes);
    void end_of_data();
    void fail(ResultCode code);
    void drop_message();
    bool save_index();
    void log_retrieved();

    const mailboxes::MailboxRecord m_mailbox;
    store::MessageIndex& m_index;
    log::Logger& m_log;
    const Settings m_settings;
    const std::shared_ptr<Progress> m_progress;

    State m_state = State::greeting;
    ResultCode m_result = ResultCode::none;
    bool m_completed = false;
    bool m_quit_accepted = false;
    bool m_write_uid = false;
    int m_quits = 0;
    Mode m_mode = Mode::fetch;
    store::MessageEntry* m_single = nullptr;
    receiver::FilterContext m_filters;

    std::vector<Listed> m_list;
    std::size_t m_position = 0;
    std::unordered_set<std::string> m_old_ids;     // lower case
    std::unordered_set<std::string> m_delete_ids;  // lower case
    std::vector<std::string> m_keep_ids;

    std::uint32_t m_stat_count = 0;
    std::uint32_t m_retrieved = 0;
    std::uint32_t m_examined = 0;
    bool m_deleted_any = false;

    std::uint32_t m_number = 0;
    std::string m_id;
    std::unique_ptr<receiver::MessageReceiver> m_receiver;
    std::uint64_t m_data_bytes = 0;
    std::uint64_t m_data_limit = 0;
    bool m_long_line = false;  // pieces of an over-long data line are going to the receiver
};

}  // namespace corvane::pop3

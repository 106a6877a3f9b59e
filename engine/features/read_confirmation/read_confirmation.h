// Read confirmations: when the administrator allows it ([General]
// SendReadConfirmations), the first display of a message that asks for a
// confirmation (Disposition-Notification-To, else X-Confirm-Reading-To)
// sends the requester a message disposition notification, a
// multipart/report of report type disposition-notification (RFC 8098),
// through the relay the compose pages use. Either way the message's
// request is cleared on its first display, so a message is answered at
// most once and one opened while the setting was off is never answered
// later. A failure is only logged: the reader is not told and nothing is
// retried.
//
// The notice carries its texts like every message we send: a subject with
// non-ASCII text in encoded words, an 8-bit text part with its charset,
// and no header line that an address or a subject could split.
#pragma once

#include <ctime>
#include <string>

#include "engine/core/dispatch/request_steps.h"

namespace corvane::read_confirmation {

class ReadConfirmations final : public dispatch::ReadConfirmation {
public:
    void after_response(dispatch::RequestContext& request) override;
};

// What a notice says; the text of the notice as written to its file.
struct Notice {
    std::string from;          // own sender form: "\"Full Name\" <address>" or "<address>"
    std::string own_address;   // the Final-Recipient
    std::string display_name;  // signs the text part
    std::string requester;     // bare address
    std::string subject;       // of the message displayed
    std::time_t message_date = 0;
    std::string original_recipient;  // its Original-Recipient header, if any
    std::string message_id;          // its Message-ID, if any
    std::time_t now = 0;
};
std::string notice_text(const Notice& notice);

}  // namespace corvane::read_confirmation

// Sending a built message to the relay of Corvane.ini [SmtpClient]:
// Host, Port, HeloDomain, UseESMTP, TLS ("No", "STARTTLS", "Yes" for TLS
// from the first byte), User and Password (kept scrambled; a value an
// administrator typed as "-secret" is scrambled on first use), and CAFile
// (a PEM file trusted besides the system store). The connection leaves from
// [WebServer] BindAddress.
//
// The sender is From, the recipients To, CC and BCC; the BCC addresses get
// the message without seeing each other (it was built without BCC).
#pragma once

#include <string>

#include "engine/features/compose/message_builder.h"
#include "engine/transport/smtp/smtp_session.h"

namespace corvane::codec {
class PasswordCodec;
}
namespace corvane::ini {
class Profile;
}
namespace corvane::log {
class Logger;
}

namespace corvane::compose {

transport::SmtpSettings smtp_settings(const ini::Profile& settings, codec::PasswordCodec& codec, log::Logger& log);

struct SendOutcome {
    bool sent = false;
    transport::SmtpResult result = transport::SmtpResult::none;
    std::string reply;  // the relay's reply that ended a failed dialogue
};

SendOutcome send_message(const transport::SmtpSettings& settings, const MessageFields& fields,
                         const std::string& message_path, log::Logger& log);

}  // namespace corvane::compose

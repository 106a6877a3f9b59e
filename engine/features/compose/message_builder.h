// Building the message file of a compose: ".message.txt" in the compose
// directory, RFC 5322 with MIME, lines ending in LF (the SMTP client turns
// them into CR LF on the wire; the store keeps them as they are).
//
// Layout: Date, From, To, Reply-To and CC (when not blank), Subject,
// Message-ID (outgoing only), the MIME headers, X-Mailer, In-Reply-To, the
// confirmation and priority headers, and in draft mode the compose fields
// the draft needs when it is opened again (BCC among them: a sent message
// never carries BCC). With attachments the body is multipart/mixed with the
// text first and each attachment in Base64, 76 columns, streamed from its
// file; a message with an ASCII body of short lines and no attachments has
// no MIME headers at all.
//
// The text carries its charset whenever it is 8-bit (the session's charset
// label, ISO-2022-JP for Japanese sessions, whose text is converted), and a
// transfer encoding that keeps it intact on the way: 8bit, or
// quoted-printable when a line is longer than SMTP allows (998 bytes). The
// boundary is made from the time of the build ("MMDD-hhmm-ss-PART-BREAK")
// and is lengthened when the text happens to hold it.
//
// Not done here: where the fields come from (compose_work.h), sending,
// storing.
#pragma once

#include <ctime>
#include <string>

#include "common/platform/result.h"
#include "engine/features/compose/header_writer.h"

namespace corvane::mime_types {
class MimeTypeTable;
}

namespace corvane::compose {

class ComposeDirectory;

enum class BuildMode { outgoing, draft };

// The compose fields a message is built from.
struct MessageFields {
    std::string from, to, cc, bcc, reply_to, subject, in_reply_to;
    bool confirm_delivery = false;
    bool confirm_read = false;
    bool urgent = false;
    // Draft mode only.
    std::string reply_message, forward_message, spell_language, mailbox;
    bool advanced = false;
};

struct BuildOptions {
    BuildMode mode = BuildMode::outgoing;
    WordCharset charset;
    // footer.txt of the installation; "" or a missing file: no footer.
    std::string footer_path;
    // Types of attachments without a content-type companion.
    const mime_types::MimeTypeTable* types = nullptr;
    std::string mailer = "Corvane";
    // The domain of Message-ID.
    std::string domain = "localhost";
    std::time_t now = 0;
};

// SMTP's line limit without CR LF.
constexpr std::size_t max_smtp_line = 998;

// Writes ".message.txt"; returns its path.
Result<std::string> build_message(const ComposeDirectory& dir, const MessageFields& fields,
                                  const BuildOptions& options);

// "Tue, 07 Mar 2023 09:05:03 +0100": local time with its zone.
std::string format_mail_date(std::time_t t);
// "0307-0905-03-PART-BREAK" from the local time.
std::string make_boundary(std::time_t t);

}  // namespace corvane::compose

// The text and the parts of a stored message as compose needs them: the
// text to quote or to open as a draft, in UTF-8 with LF line ends, and the
// decoded bytes of a part that becomes an attachment.
//
// Bodies are decoded line by line straight from the message file (base64,
// quoted-printable, uuencode), never read whole; a part's charset comes
// from the Content-Type of its own header, read back from the file.
#pragma once

#include <string>

#include "engine/store/message_index/message_entry.h"

namespace corvane::compose {

// The body of a message without parts (part == nullptr) or one part, as
// UTF-8 text; false when the message file cannot be read or the output not
// written.
bool write_message_text(const std::string& message_path, const store::PartRecord* part, const std::string& out_path);

// The decoded bytes of one part.
bool write_part_bytes(const std::string& message_path, const store::PartRecord& part, const std::string& out_path);

}  // namespace corvane::compose

// Flags a message earns from its header: urgent, confirmation requested.
//
// Shared by the message receiver (on arrival) and the index loader (entries
// of the earlier index format get their urgent flag from the stored file).
#pragma once

#include <string>

#include "engine/store/mime/header_list.h"

namespace corvane::store {

// X-Priority beginning with "1", or Priority beginning with "urgent".
bool is_urgent(const mime::HeaderList& header);
// Disposition-Notification-To or X-Confirm-Reading-To present and not empty.
bool requests_confirmation(const mime::HeaderList& header);
// is_urgent() of the header of a stored message file (false when missing).
bool header_says_urgent(const std::string& message_path);

}  // namespace corvane::store

// Takes message files that no index entry names into the index: what a
// crash leaves when it strikes after a message was stored or copied and
// before the index was written (MessageIndex::unindexed()).
//
// Each file becomes the entry the receiver makes of it on arrival (header
// values, urgent, multipart and confirmation flags, new), downloaded, in
// the folder where it lies. A copy gets the flags of the message it copies:
// an entry with the same date, sender, recipients and subject. A file whose
// number another entry has is renamed to a free number first. What a file
// cannot tell (the mailbox and server identifier it came from) stays empty.
#pragma once

#include <cstddef>

#include "engine/store/message_index/message_index.h"
#include "engine/store/receiver/message_receiver.h"

namespace corvane::receiver {

// Returns how many files were taken in.
std::size_t adopt_unindexed_files(store::MessageIndex& index, const ReceiverOptions& options);

}  // namespace corvane::receiver

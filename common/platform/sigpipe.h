// Writing to a pipe or socket whose reader may have gone, inside a process
// that does not own its signal dispositions (a library in someone else's
// server): a write to a closed pipe fails with EPIPE and the kernel also
// raises SIGPIPE, whose default action would end the whole host process.
//
// What it does not do: change the process's signal dispositions; it blocks
// SIGPIPE for the calling thread during the write only.
#pragma once

#include <string_view>

#include "common/platform/result.h"

namespace corvane::platform {

// Writes all of data to a blocking descriptor (resuming after short writes
// and interrupted calls). A reader that went away fails the write with
// EPIPE; the SIGPIPE that this write caused is taken back before the
// signal is unblocked, one that was pending before is left alone.
Result<void> write_all_without_sigpipe(int fd, std::string_view data);

}  // namespace corvane::platform

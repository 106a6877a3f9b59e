// Child processes and the pipes that connect them: a pipe whose read end an
// event loop polls, starting a program with chosen standard descriptors,
// environment and working directory, learning that it ended without
// waiting for it, and ending it with its own children.
//
// Programs start with every signal at its default and none blocked (a
// server ignores SIGPIPE and SIGHUP; its children must not inherit that),
// and with no descriptor of ours beyond the three standard ones, whatever
// a library we loaded opened without close-on-exec.
//
// What it does not do: search PATH, run shell command lines, or change the
// user a program runs as.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "common/platform/result.h"
#include "common/platform/unique_fd.h"

namespace corvane::platform {

// Both ends close-on-exec; the read end does not block (an event loop reads
// it), the write end blocks (a writer faster than its reader waits).
struct Pipe {
    UniqueFd read_end;
    UniqueFd write_end;
};
Result<Pipe> make_pipe();

struct SpawnRequest {
    std::string program;         // an absolute path, run as it is
    std::string directory;       // working directory; "" for "/"
    int standard_input = -1;     // -1: /dev/null
    int standard_output = -1;    // -1: /dev/null
    char* const* environment{};  // NULL-terminated NAME=value strings
    // A group of its own, so that kill_group() ends whatever it started.
    bool own_process_group = true;
};

struct Child {
    pid_t pid = -1;
    // Readable once the process has ended (a pidfd); invalid on systems
    // without one, where callers ask collect() from time to time instead.
    UniqueFd ended;
};
Result<Child> spawn_program(const SpawnRequest& request);

// The wait status of an ended child, collected without waiting; nullopt
// while it runs (or when pid is no child of ours).
std::optional<int> collect(pid_t pid);
// Waits for a child to end and collects it; the wait status.
Result<int> wait_for(pid_t pid);
// SIGKILL to the child's process group and to the child itself.
void kill_group(pid_t pid);

// Raises the limit on open descriptors to the hard limit (a server with
// many connections needs more than the usual 1024); the limit in force.
std::size_t raise_descriptor_limit();

// This process's id.
pid_t current_process_id();
// Whether a process of that id exists (also one of another user, which we
// may not signal); false for ids below 1.
bool process_exists(pid_t pid);

}  // namespace corvane::platform

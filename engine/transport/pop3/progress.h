// How far a running POP3 session has come, for the page a user sees while
// the mail is being fetched.
//
// The session that runs writes it; pages of other requests of the same user
// read it on their own threads. Every field is atomic, so a reader sees
// each value whole (not necessarily all of them from the same instant,
// which a progress line does not need). The user session holds the record
// (a shared pointer) while the POP3 session runs, under its session lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace corvane::pop3 {

enum class Mode {
    fetch,     // get mail: new messages of the mailbox
    single,    // get single: the whole of one message fetched before as header
    deletion,  // delete on server: what the user deleted here
};

struct Progress {
    explicit Progress(std::string name) : mailbox(std::move(name)) {}

    const std::string mailbox;  // the mailbox record's name
    std::atomic<Mode> mode{Mode::fetch};

    // The server's message count (STAT), and how many lines of its UIDL
    // listing have been examined so far.
    std::atomic<std::uint32_t> server_count{0};
    std::atomic<std::uint32_t> examined{0};
    // Set when the listing is complete: the work list is known.
    std::atomic<bool> listed{false};
    // The work list: messages to fetch (or to delete), and the position of
    // the current one in it, counted from 1 (0 before the first).
    std::atomic<std::uint32_t> to_handle{0};
    std::atomic<std::uint32_t> position{0};
    // The message being fetched: its size as the server gave it, and the
    // bytes of it received so far.
    std::atomic<std::uint32_t> message_size{0};
    std::atomic<std::uint64_t> bytes_received{0};
};

}  // namespace corvane::pop3

// What makes a server program a Linux service: the stop signals, detaching
// from the terminal with a pid file, the working directory, and removing an
// installed systemd unit.
//
// SIGTERM and SIGINT request an orderly stop; SIGHUP and SIGPIPE are
// ignored (a client that goes away shows as a failed send, not a dead
// server). Detaching forks twice; the process that was started waits until
// the server has started (or failed to) and exits with 0 or 1 accordingly,
// so a script or an init system learns whether the start worked.
#pragma once

#include <string>
#include <string_view>

#include "common/platform/result.h"
#include "common/platform/unique_fd.h"

namespace corvane::platform {

// Process-wide: install() once, then wait on fd() with poll().
class StopSignal {
public:
    static Result<StopSignal> install();
    int fd() const { return m_read.get(); }
    bool requested() const;

private:
    platform::UniqueFd m_read;
};

// Held by the detached server until it knows whether it started.
class StartReport {
public:
    StartReport() = default;
    explicit StartReport(platform::UniqueFd report) : m_report(std::move(report)) {}
    void ready() { report('0'); }
    void failed() { report('1'); }

private:
    void report(char c);
    platform::UniqueFd m_report;
};

// Forks into the background (new session, standard descriptors on
// /dev/null) and returns in the detached process. The starting process
// stays in this call, prints failure_message on stderr when the server
// reports a failure, and exits.
Result<StartReport> detach(const std::string& failure_message);

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed, so that
// no file, socket or pipe can ever take their place.
void ensure_standard_descriptors();

// Writes the process id (and a line end) to path; remove_pid_file() deletes
// it only while it still names this process.
Result<void> write_pid_file(const std::string& path);
void remove_pid_file(const std::string& path);

Result<void> change_directory(const std::string& path);

// Removes the unit file dir/unit. With use_systemctl the unit is stopped
// and disabled first and systemd reloaded after; their failures are
// reported in *warning (the file still goes). ENOENT when the unit is not
// installed.
Result<void> remove_unit(const std::string& dir, std::string_view unit, bool use_systemctl, std::string* warning);

}  // namespace corvane::platform

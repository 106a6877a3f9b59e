// The log: levelled lines in a text file, and per-request buffers that reach
// the file as one block.
//
// A line is "[%a %Y-%m-%d %H:%M:%S] " + prefix + message, followed by CR LF
// unless the message already ends with a line feed, and never longer than
// 768 bytes (a longer one is cut, at a UTF-8 boundary). Lines below the
// threshold are dropped before anything else happens. Levels: 1 detail,
// 2 routine, 3 notable, 4 errors, 5 start and stop, 6 file banners.
//
// LogFile is the file itself: one per process, shared by every thread. It
// can begin a dated file daily, weekly or monthly, and moves the file aside
// to ".old" when it grows past a size limit, announcing the move with a
// lock file that watchers (the monitor) respect. RequestLog collects the
// lines of one request or task and hands them to its target in one call, so
// that lines of concurrent requests never interleave; at threshold 1 every
// line goes through at once instead. Lock order: a buffer's lock, then the
// file's; the file never takes a buffer's lock.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

#include "common/platform/unique_fd.h"

namespace corvane::log {

constexpr std::size_t max_line = 768;
constexpr std::size_t max_prefix = 63;
// Levels of a line, lowest first. The threshold ([General] LogLevel) is
// a number on the same scale: a line is written when its level is at least
// the threshold.
enum class Level : int {
    detail = 1,     // step-by-step notices
    routine = 2,    // routine events: requests, log-outs
    notable = 3,    // sessions created, bad logons, expiries
    error = 4,      // what could not be done ("Could not ...")
    lifecycle = 5,  // start and stop
    banner = 6,     // the file banners
};
constexpr int level_number(Level level)
{
    return static_cast<int>(level);
}

// The three operations every log offers.
class Logger {
public:
    virtual ~Logger() = default;

    void line(Level level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void vline(Level level, const char* format, va_list args) __attribute__((format(printf, 3, 0)));
    // A message that is already text (no formatting).
    void message(Level level, std::string_view text);
    virtual void write_raw(std::string_view bytes) = 0;
    virtual void flush() = 0;

    virtual int threshold() const = 0;
    bool enabled(Level level) const { return level_number(level) >= threshold(); }

protected:
    virtual void write_message(std::string_view message) = 0;
};

enum class Rotation { none, daily, weekly, monthly };
// "DAILY", "WEEKLY", "MONTHLY" in any case; anything else is none.
Rotation rotation_from_text(std::string_view text);

struct LogSettings {
    std::string directory;
    std::string file_name = "Corvane.log";
    // Dated files are directory + "/" + prefix + "YYYYMMDD.log".
    std::string rotation_prefix = "CV";
    Rotation rotation = Rotation::none;
    // Kilobytes; below 1 means no limit.
    std::int64_t size_limit_kb = 0;
    // Banners read "----- " + product + " Log file starting -----".
    std::string product = "Corvane Pro 2.0.1";
    // Whether LOCKLOG.SEM marks the move of a too-large file.
    bool lock_file = true;
    int threshold = 1;
};

class LogFile final : public Logger {
public:
    explicit LogFile(LogSettings settings);
    // Writes the "stopping" banner and closes the file.
    ~LogFile() override;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    void write_raw(std::string_view bytes) override;
    void flush() override {}
    int threshold() const override { return m_threshold.load(std::memory_order_relaxed); }
    void set_threshold(int level) { m_threshold.store(level, std::memory_order_relaxed); }
    void set_size_limit_kb(std::int64_t kb);

    // Begins a dated file when its time has come, or moves a file that has
    // passed the size limit aside. True when a new file was begun (the
    // caller publishes current_path()).
    bool check_rotation();
    std::string current_path() const;
    bool is_open() const;

    // The dated name and the next rotation time for a local time, as the
    // rotation uses them (exposed for tests).
    static std::string dated_name(const std::string& prefix_path, std::time_t now);
    static std::time_t next_rotation(Rotation rotation, std::time_t now);

protected:
    void write_message(std::string_view message) override;

private:
    bool open_locked();
    void close_locked();
    void write_locked(std::string_view bytes);
    void banner_locked(const char* word);
    std::string lock_file_path() const;

    const LogSettings m_settings;
    std::atomic<int> m_threshold;
    mutable std::mutex m_mutex;
    platform::UniqueFd m_fd;
    std::string m_path;
    std::int64_t m_size_limit = 0;  // bytes
    std::time_t m_next_rotation = 0;
    bool m_reported_failure = false;
};

class RequestLog final : public Logger {
public:
    // target may be null: then every line is dropped.
    explicit RequestLog(Logger* target) : m_target(target) {}
    // Flushes whatever is left.
    ~RequestLog() override;
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    // The prefix becomes "[" + id + "] ", cut to 63 characters.
    void set_session(std::string_view session_id);
    // Any prefix, such as "[17] " for connection 17 (cut to 63 characters).
    void set_prefix(std::string_view prefix);
    const std::string& prefix() const { return m_prefix; }

    void write_raw(std::string_view bytes) override;
    void flush() override;
    int threshold() const override { return m_target ? m_target->threshold() : 1 << 30; }

    // Bytes collected and not yet flushed (tests).
    std::size_t pending() const;

protected:
    void write_message(std::string_view message) override;

private:
    void flush_locked();

    Logger* m_target;
    mutable std::mutex m_mutex;
    std::string m_prefix;
    std::string m_buffer;
};

// One finished line for the given time: stamp, blank, prefix, message and
// the line end, cut to max_line bytes.
std::string format_line(std::time_t now, std::string_view prefix, std::string_view message);

}  // namespace corvane::log

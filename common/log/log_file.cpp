#include "common/log/log_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "common/platform/io.h"
#include "common/platform/time_format.h"
#include "common/text/strings.h"

namespace corvane::log {

namespace fs = corvane::platform;

namespace {

constexpr std::string_view crlf = "\r\n";
constexpr std::size_t stamp_size = sizeof("[Sun 2026-12-06 10:09:45] ") - 1;

// The stamp of the current second, formatted once per second and thread.
// The cache is plain bytes, with nothing to destroy: a line may be logged
// while the thread's thread-local objects are being destroyed (at exit),
// and a library whose thread-local objects need destruction cannot be
// unloaded.
std::string_view stamp_for(std::time_t now)
{
    thread_local std::time_t cached_second = -1;
    thread_local char cached[64];
    thread_local std::size_t cached_size = 0;
    if (now != cached_second) {
        std::string stamp = fs::format_local(now, "[%a %Y-%m-%d %H:%M:%S] ");
        cached_size = std::min(stamp.size(), sizeof cached);
        std::memcpy(cached, stamp.data(), cached_size);
        cached_second = now;
    }
    return std::string_view(cached, cached_size);
}

}  // namespace

// ---- Logger ------------------------------------------------------------------

void Logger::vline(Level level, const char* format, va_list args)
{
    if (!enabled(level))
        return;
    char buffer[max_line + 1];
    // Formatting into a bounded buffer cuts an over-long message; the line
    // formatter cuts again at a character boundary.
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0)
        return;
    std::size_t length = static_cast<std::size_t>(n) < sizeof buffer ? static_cast<std::size_t>(n) : max_line;
    write_message(std::string_view(buffer, length));
}

void Logger::line(Level level, const char* format, ...)
{
    if (!enabled(level))
        return;
    va_list args;
    va_start(args, format);
    vline(level, format, args);
    va_end(args);
}

void Logger::message(Level level, std::string_view text)
{
    if (enabled(level))
        write_message(text.substr(0, max_line));
}

Rotation rotation_from_text(std::string_view text)
{
    if (text::iequals(text, "DAILY"))
        return Rotation::daily;
    if (text::iequals(text, "WEEKLY"))
        return Rotation::weekly;
    if (text::iequals(text, "MONTHLY"))
        return Rotation::monthly;
    return Rotation::none;
}

std::string format_line(std::time_t now, std::string_view prefix, std::string_view message)
{
    std::string line;
    line.reserve(stamp_size + prefix.size() + message.size() + 2);
    line += stamp_for(now);
    line += prefix;
    line += message;
    bool ends_with_lf = !message.empty() && message.back() == '\n';
    if (line.size() > max_line - crlf.size()) {
        line.resize(text::cut(line, max_line - crlf.size()).size());
        ends_with_lf = false;
    }
    if (!ends_with_lf)
        line += crlf;
    return line;
}

// ---- LogFile -------------------------------------------------------------------

LogFile::LogFile(LogSettings settings) : m_settings(std::move(settings)), m_threshold(m_settings.threshold)
{
    m_size_limit = m_settings.size_limit_kb < 1 ? 0 : m_settings.size_limit_kb * 1024;
    m_path = fs::join_path(m_settings.directory, m_settings.file_name);
    std::lock_guard lock(m_mutex);
    if (m_settings.rotation != Rotation::none) {
        std::time_t now = fs::now();
        m_path = dated_name(fs::join_path(m_settings.directory, m_settings.rotation_prefix), now);
        m_next_rotation = next_rotation(m_settings.rotation, now);
    }
    open_locked();
}

LogFile::~LogFile()
{
    std::lock_guard lock(m_mutex);
    if (m_fd)
        banner_locked("stopping");
    close_locked();
}

void LogFile::set_size_limit_kb(std::int64_t kb)
{
    std::lock_guard lock(m_mutex);
    m_size_limit = kb < 1 ? 0 : kb * 1024;
}

std::string LogFile::current_path() const
{
    std::lock_guard lock(m_mutex);
    return m_path;
}

bool LogFile::is_open() const
{
    std::lock_guard lock(m_mutex);
    return m_fd.valid();
}

std::string LogFile::dated_name(const std::string& prefix_path, std::time_t now)
{
    std::tm tm = fs::local_time(now);
    return text::format("%s%04d%02d%02d.log", prefix_path.c_str(), tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

std::time_t LogFile::next_rotation(Rotation rotation, std::time_t now)
{
    std::tm tm = fs::local_time(now);
    tm.tm_hour = 0;
    tm.tm_min = 0;
    tm.tm_sec = 0;
    switch (rotation) {
    case Rotation::daily:
        tm.tm_mday += 1;
        break;
    case Rotation::weekly:
        tm.tm_mday += 7 - tm.tm_wday;  // the next Sunday; a week ahead on a Sunday
        break;
    case Rotation::monthly:
        tm.tm_mday = 1;
        tm.tm_mon += 1;
        break;
    case Rotation::none:
        return 0;
    }
    return fs::make_local_time(tm);
}

bool LogFile::open_locked()
{
    if (m_fd)
        return true;
    auto opened = fs::open_for_appending(m_path, 0640);
    if (!opened) {
        // The log cannot report its own failure; say it once on stderr
        // until the file opens again.
        if (!m_reported_failure) {
            std::fprintf(stderr, "corvane: cannot open log file %s: %s\n", m_path.c_str(), opened.error().text.c_str());
            m_reported_failure = true;
        }
        return false;
    }
    m_fd = std::move(*opened);
    m_reported_failure = false;
    banner_locked("starting");
    return true;
}

void LogFile::close_locked()
{
    m_fd.reset();
}

void LogFile::write_locked(std::string_view bytes)
{
    if (open_locked())
        (void)fs::write_all(m_fd.get(), bytes);  // a full disk loses the line; nothing better to do
}

void LogFile::banner_locked(const char* word)
{
    if (level_number(Level::banner) < threshold() || !m_fd)
        return;
    std::string message = "----- " + m_settings.product + " Log file " + word + " -----";
    (void)fs::write_all(m_fd.get(), format_line(fs::now(), {}, message));
}

void LogFile::write_message(std::string_view message)
{
    std::string line = format_line(fs::now(), {}, message);
    std::lock_guard lock(m_mutex);
    write_locked(line);
}

void LogFile::write_raw(std::string_view bytes)
{
    std::lock_guard lock(m_mutex);
    write_locked(bytes);
}

std::string LogFile::lock_file_path() const
{
    return fs::join_path(fs::directory_of(m_path), "LOCKLOG.SEM");
}

bool LogFile::check_rotation()
{
    if (m_settings.rotation == Rotation::none && m_size_limit < 1)
        return false;
    std::lock_guard lock(m_mutex);
    std::string lock_file = lock_file_path();
    auto drop_lock_file = [&] {
        if (m_settings.lock_file)
            (void)fs::remove_file(lock_file);
    };
    std::time_t now = fs::now();

    if (m_settings.rotation != Rotation::none && now >= m_next_rotation) {
        if (m_fd) {
            banner_locked("rotating");
            close_locked();
        }
        m_path = dated_name(fs::join_path(m_settings.directory, m_settings.rotation_prefix), now);
        m_next_rotation = next_rotation(m_settings.rotation, now);
        open_locked();
        drop_lock_file();
        return true;
    }
    if (m_size_limit < 1) {
        drop_lock_file();
        return false;
    }
    std::optional<std::uint64_t> size = open_locked() ? fs::size_of(m_fd.get()) : std::nullopt;
    if (!size || *size < static_cast<std::uint64_t>(m_size_limit)) {
        drop_lock_file();
        return false;
    }

    // Too large: tell watchers, close, move aside to ".old", start afresh.
    if (m_settings.lock_file)
        (void)fs::touch_file(lock_file);
    banner_locked("too large");
    close_locked();
    auto dot = m_path.rfind('.');
    auto slash = m_path.rfind('/');
    std::string aside = (dot == std::string::npos || (slash != std::string::npos && dot < slash))
                            ? m_path + ".old"
                            : m_path.substr(0, dot) + ".old";
    (void)fs::remove_file(aside);
    if (!fs::rename_file(m_path, aside)) {
        // Keep writing to the large file; the next check tries again and the
        // lock file stays until then.
        if (auto reopened = fs::open_for_appending(m_path, 0640))
            m_fd = std::move(*reopened);
        return true;
    }
    open_locked();
    drop_lock_file();
    return true;
}

// ---- RequestLog ----------------------------------------------------------------

RequestLog::~RequestLog()
{
    flush();
}

void RequestLog::set_session(std::string_view session_id)
{
    set_prefix("[" + std::string(session_id) + "] ");
}

void RequestLog::set_prefix(std::string_view prefix)
{
    std::lock_guard lock(m_mutex);
    m_prefix = text::bounded(prefix, max_prefix);
}

void RequestLog::write_message(std::string_view message)
{
    std::lock_guard lock(m_mutex);
    m_buffer += format_line(fs::now(), m_prefix, message);
    if (threshold() == 1)
        flush_locked();
}

void RequestLog::write_raw(std::string_view bytes)
{
    std::lock_guard lock(m_mutex);
    m_buffer += bytes;
    if (threshold() == 1)
        flush_locked();
}

void RequestLog::flush()
{
    std::lock_guard lock(m_mutex);
    flush_locked();
}

void RequestLog::flush_locked()
{
    if (m_buffer.empty())
        return;
    if (m_target)
        m_target->write_raw(m_buffer);
    m_buffer.clear();
    if (m_buffer.capacity() > 64 * 1024)
        m_buffer.shrink_to_fit();
}

std::size_t RequestLog::pending() const
{
    std::lock_guard lock(m_mutex);
    return m_buffer.size();
}

}  // namespace corvane::log

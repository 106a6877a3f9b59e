#include "webserver/access_log.h"

#include <cstdlib>

#include "common/platform/files.h"
#include "common/platform/io.h"
#include "common/platform/time_format.h"
#include "common/text/strings.h"

namespace corvane::webserver {

namespace fs = corvane::platform;

namespace {

fs::UniqueFd open_append(const std::string& path)
{
    auto fd = fs::open_for_appending(path, 0640);
    return fd ? std::move(*fd) : fs::UniqueFd();
}

}  // namespace

bool AccessLog::open(std::string path)
{
    std::lock_guard lock(m_mutex);
    m_path = std::move(path);
    m_fd = open_append(m_path);
    return m_fd.valid();
}

void AccessLog::close()
{
    std::lock_guard lock(m_mutex);
    m_fd.reset();
}

bool AccessLog::is_open() const
{
    std::lock_guard lock(m_mutex);
    return m_fd.valid();
}

void AccessLog::write(std::string_view line)
{
    std::lock_guard lock(m_mutex);
    if (!m_fd)
        return;
    (void)fs::write_all(m_fd.get(), line);  // a full disk loses the line
}

std::string AccessLog::aside_path(const std::string& path)
{
    auto dot = path.rfind('.');
    auto slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + ".old";
    return path.substr(0, dot) + ".old";
}

bool AccessLog::rotate_if_larger(std::int64_t max_kb)
{
    std::lock_guard lock(m_mutex);
    if (max_kb <= 0 || !m_fd)
        return false;
    auto size = fs::size_of(m_fd.get());
    if (!size || *size < static_cast<std::uint64_t>(max_kb) * 1024)
        return false;
    m_fd.reset();
    std::string aside = aside_path(m_path);
    (void)fs::remove_file(aside);
    // A failed rename leaves the large file in place; it is appended to and
    // tried again on the next tick.
    (void)fs::rename_file(m_path, aside);
    m_fd = open_append(m_path);
    return true;
}

std::string format_access_line(std::string_view peer, std::string_view user, std::time_t when,
                               std::string_view request_line, int status, std::int64_t bytes)
{
    std::tm tm = platform::local_time(when);
    long offset = tm.tm_gmtoff / 60;
    char sign = offset < 0 ? '-' : '+';
    offset = std::labs(offset);
    std::string stamp = platform::format_time(tm, "%d/%b/%Y:%H:%M:%S ");
    text::append_format(stamp, "%c%02ld%02ld", sign, offset / 60, offset % 60);

    std::string who = user.empty() ? std::string("-") : text::without_controls(user);
    std::string what = request_line.empty() ? std::string("-") : text::without_controls(request_line);
    return text::format("%.*s - %s [%s] \"%s\" %d %lld\r\n", static_cast<int>(peer.size()), peer.data(), who.c_str(),
                        stamp.c_str(), what.c_str(), status, static_cast<long long>(bytes));
}

}  // namespace corvane::webserver

#include "engine/core/sessions/session.h"

#include <cstring>

#include "common/platform/files.h"
#include "common/platform/random.h"
#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"

namespace corvane::sessions {

namespace fs = corvane::platform;

namespace {

// Removes a directory with everything in it, dot-directories at any depth
// included (the general tree deletion keeps those, which is right for
// TempDir itself but not for a session's own directory). Symbolic links are
// listed as plain entries, so they are deleted, never followed.
void remove_everything(const std::string& dir)
{
    auto entries = fs::list_directory(dir);
    if (entries) {
        for (const auto& entry : *entries) {
            if (entry.is_directory)
                remove_everything(fs::join_path(dir, entry.name));
        }
    }
    (void)fs::remove_tree(dir);
}

// One decimal octet: 1 to 3 digits, at most 255.
bool parse_octet(std::string_view& text, std::uint32_t& out)
{
    std::size_t digits = 0;
    std::uint32_t value = 0;
    while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9') {
        value = value * 10 + static_cast<std::uint32_t>(text[digits] - '0');
        ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255)
        return false;
    text.remove_prefix(digits);
    out = value;
    return true;
}

}  // namespace

std::string make_session_id()
{
    std::string id(session_id_length, 'A');
    for (char& c : id)
        c = static_cast<char>('A' + fs::random_below(26));
    return id;
}

bool is_session_id(std::string_view text)
{
    if (text.size() != session_id_length)
        return false;
    for (char c : text) {
        if (c < 'A' || c > 'Z')
            return false;
    }
    return true;
}

std::string make_session_key()
{
    unsigned char bytes[16];
    fs::random_bytes(bytes, sizeof bytes);
    static constexpr char digits[] = "0123456789abcdef";
    std::string key;
    key.reserve(32);
    for (unsigned char b : bytes) {
        key += digits[b >> 4];
        key += digits[b & 0x0f];
    }
    return key;
}

std::uint32_t parse_ipv4(std::string_view text)
{
    text = text::trim(text);
    if (text::istarts_with(text, "::ffff:"))
        text.remove_prefix(7);
    unsigned char octets[4];
    for (int i = 0; i < 4; ++i) {
        std::uint32_t value = 0;
        if (!parse_octet(text, value))
            return 0;
        octets[i] = static_cast<unsigned char>(value);
        if (i < 3) {
            if (text.empty() || text.front() != '.')
                return 0;
            text.remove_prefix(1);
        }
    }
    if (!text.empty())
        return 0;
    std::uint32_t address = 0;
    std::memcpy(&address, octets, 4);  // the bytes in address order: network byte order
    return address;
}

Session::Session(std::string id, std::string_view client_address, std::unique_ptr<accounts::UserRecord> user,
                 std::string temp_dir, SessionUse use)
    : m_id(std::move(id)),
      m_use(use),
      m_client_address(parse_ipv4(client_address)),
      m_client_address_text(text::without_controls(text::cut(client_address, 63))),
      m_temp_dir(std::move(temp_dir)),
      m_user(std::move(user))
{
    if (use == SessionUse::status_check)
        m_status_check.store(true, std::memory_order_relaxed);
    if (m_user) {
        m_user_name = m_user->name();
        m_full_name = m_user->default_mailbox().full_name;
        m_email = m_user->default_mailbox().email;
    }
}

Session::~Session()
{
    if (!m_temp_dir.empty())
        remove_everything(m_temp_dir);
    if (m_user)
        m_user->release();
}

std::string Session::user_name() const
{
    std::lock_guard lock(m_identity_mutex);
    return m_user_name;
}

std::string Session::full_name() const
{
    std::lock_guard lock(m_identity_mutex);
    return m_full_name;
}

std::string Session::email() const
{
    std::lock_guard lock(m_identity_mutex);
    return m_email;
}

void Session::set_mailbox_identity(std::string_view full_name, std::string_view email)
{
    std::lock_guard lock(m_identity_mutex);
    m_full_name = std::string(full_name);
    m_email = std::string(email);
}

}  // namespace corvane::sessions

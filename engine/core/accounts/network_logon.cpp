#include "engine/core/accounts/network_logon.h"

#include <security/pam_appl.h>

#include <cstdlib>
#include <cstring>

#include "common/text/strings.h"

namespace corvane::accounts {

namespace {

struct Credentials {
    std::string user;
    std::string password;
};

char* copy_out(const std::string& s)
{
    char* p = static_cast<char*>(std::malloc(s.size() + 1));
    if (p)
        std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

// Answers the modules' questions: the password for a hidden prompt, the
// user name for a visible one, nothing for messages. PAM frees what we hand
// back; on failure we free it ourselves.
int converse(int count, const pam_message** messages, pam_response** responses, void* data)
{
    if (count <= 0 || count > PAM_MAX_NUM_MSG || !messages || !responses)
        return PAM_CONV_ERR;
    const auto* credentials = static_cast<const Credentials*>(data);
    auto* replies = static_cast<pam_response*>(std::calloc(static_cast<std::size_t>(count), sizeof(pam_response)));
    if (!replies)
        return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        const std::string* answer = nullptr;
        switch (messages[i]->msg_style) {
        case PAM_PROMPT_ECHO_OFF:
            answer = &credentials->password;
            break;
        case PAM_PROMPT_ECHO_ON:
            answer = &credentials->user;
            break;
        case PAM_ERROR_MSG:
        case PAM_TEXT_INFO:
            continue;
        default:
            break;
        }
        if (!answer || !(replies[i].resp = copy_out(*answer))) {
            for (int j = 0; j < i; ++j) {
                if (replies[j].resp) {
                    ::explicit_bzero(replies[j].resp, std::strlen(replies[j].resp));
                    std::free(replies[j].resp);
                }
            }
            std::free(replies);
            return PAM_CONV_ERR;
        }
    }
    *responses = replies;
    return PAM_SUCCESS;
}

}  // namespace

std::string network_logon_name(std::string_view domain, std::string_view user)
{
    if (domain.empty() || domain == "." || text::iequals(domain, "NT_ANY"))
        return std::string(user);
    std::string name(domain);
    name += '\\';
    name += user;
    return name;
}

NetworkLogon check_network_logon(std::string_view user, std::string_view password, std::string_view service)
{
    // PAM takes C strings: a NUL inside would silently shorten the name or
    // the password to something else.
    if (user.empty() || password.empty() || user.find('\0') != std::string_view::npos ||
        password.find('\0') != std::string_view::npos)
        return {false, PAM_AUTH_ERR};
    Credentials credentials{std::string(user), std::string(password)};
    pam_conv conversation{&converse, &credentials};
    pam_handle_t* handle = nullptr;
    std::string service_name(service);
    int rc = ::pam_start(service_name.c_str(), credentials.user.c_str(), &conversation, &handle);
    if (rc != PAM_SUCCESS) {
        if (handle)
            ::pam_end(handle, rc);
        return {false, rc};
    }
    rc = ::pam_authenticate(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    if (rc == PAM_SUCCESS)
        rc = ::pam_acct_mgmt(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    ::pam_end(handle, rc);
    ::explicit_bzero(credentials.password.data(), credentials.password.size());
    return {rc == PAM_SUCCESS, rc};
}

}  // namespace corvane::accounts

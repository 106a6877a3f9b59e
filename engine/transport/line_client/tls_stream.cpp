#include "engine/transport/line_client/tls_stream.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <openssl/x509v3.h>
#include <optional>

#include "common/platform/files.h"

namespace corvane::transport {

namespace {

std::string openssl_reason()
{
    unsigned long code = ERR_get_error();
    std::string text;
    while (code != 0) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        const char* reason = ERR_reason_error_string(code);
        text = reason ? reason : buffer;  // the last (outermost) reason is the clearest
        code = ERR_get_error();
    }
    return text.empty() ? "unknown TLS error" : text;
}

bool is_ip_address(const std::string& name)
{
    ASN1_OCTET_STRING* ip = a2i_IPADDRESS(name.c_str());
    if (!ip) {
        ERR_clear_error();
        return false;
    }
    ASN1_OCTET_STRING_free(ip);
    return true;
}

// Trust stores, one per CA file, built once and shared by every connection
// while the file stays the same.
class ContextCache {
public:
    Result<SSL_CTX*> get(const std::string& ca_file)
    {
        std::optional<platform::FileIdentity> identity;
        if (!ca_file.empty()) {
            identity = platform::identity_of(ca_file);
            if (!identity)
                return Error{ENOENT, "CA file " + ca_file + " cannot be read"};
        }
        std::lock_guard lock(m_mutex);
        auto it = m_contexts.find(ca_file);
        if (it != m_contexts.end() && it->second.identity == identity) {
            SSL_CTX_up_ref(it->second.context);
            return it->second.context;
        }
        SSL_CTX* context = SSL_CTX_new(TLS_client_method());
        if (!context)
            return Error{EPROTO, "TLS set-up: " + openssl_reason()};
        SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
        if (SSL_CTX_set_default_verify_paths(context) != 1)
            ERR_clear_error();  // no system store: only the CA file can vouch
        if (!ca_file.empty() && SSL_CTX_load_verify_locations(context, ca_file.c_str(), nullptr) != 1) {
            std::string reason = openssl_reason();
            SSL_CTX_free(context);
            return Error{EPROTO, "CA file " + ca_file + " cannot be used: " + reason};
        }
        if (it != m_contexts.end()) {
            SSL_CTX_free(it->second.context);
            m_contexts.erase(it);
        }
        m_contexts.emplace(ca_file, Entry{context, identity});
        SSL_CTX_up_ref(context);
        return context;
    }

private:
    struct Entry {
        SSL_CTX* context;
        std::optional<platform::FileIdentity> identity;
    };
    std::mutex m_mutex;
    std::map<std::string, Entry> m_contexts;
};

ContextCache& contexts()
{
    static auto* cache = new ContextCache;  // lives as long as the process
    return *cache;
}

}  // namespace

struct TlsStream::Handles {
    SSL* ssl = nullptr;
    BIO* incoming = nullptr;  // owned by ssl
    BIO* outgoing = nullptr;  // owned by ssl
    ~Handles()
    {
        if (ssl)
            SSL_free(ssl);
    }
};

TlsStream::TlsStream(std::unique_ptr<Handles> handles) : m_handles(std::move(handles)) {}
TlsStream::~TlsStream() = default;

Result<std::unique_ptr<TlsStream>> TlsStream::client(const TlsOptions& options)
{
    auto context = contexts().get(options.ca_file);
    if (!context)
        return context.error();
    auto handles = std::make_unique<Handles>();
    handles->ssl = SSL_new(*context);
    SSL_CTX_free(*context);  // the SSL holds its own reference
    if (!handles->ssl)
        return Error{EPROTO, "TLS set-up: " + openssl_reason()};
    handles->incoming = BIO_new(BIO_s_mem());
    handles->outgoing = BIO_new(BIO_s_mem());
    if (!handles->incoming || !handles->outgoing) {
        BIO_free(handles->incoming);
        BIO_free(handles->outgoing);
        return Error{ENOMEM, "TLS set-up: no memory"};
    }
    // An empty input buffer means "more to come", not end of stream.
    BIO_set_mem_eof_return(handles->incoming, -1);
    SSL_set_bio(handles->ssl, handles->incoming, handles->outgoing);
    SSL_set_connect_state(handles->ssl);

    const std::string& name = options.server_name;
    if (name.empty() || name.find('\0') != std::string::npos)
        return Error{EINVAL, "TLS needs the server's name"};
    if (is_ip_address(name)) {
        if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(handles->ssl), name.c_str()) != 1)
            return Error{EINVAL, "TLS set-up: bad address " + name};
    } else {
        SSL_set_hostflags(handles->ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (SSL_set1_host(handles->ssl, name.c_str()) != 1 || SSL_set_tlsext_host_name(handles->ssl, name.c_str()) != 1)
            return Error{EINVAL, "TLS set-up: bad host name " + name};
    }
    return std::unique_ptr<TlsStream>(new TlsStream(std::move(handles)));
}

void TlsStream::push_received(std::string_view bytes)
{
    while (!bytes.empty()) {
        int n = BIO_write(m_handles->incoming, bytes.data(),
                          static_cast<int>(std::min<std::size_t>(bytes.size(), 1u << 30)));
        if (n <= 0)
            return;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void TlsStream::take_outgoing(std::string& out)
{
    char* data = nullptr;
    long size = BIO_get_mem_data(m_handles->outgoing, &data);
    if (size <= 0)
        return;
    out.append(data, static_cast<std::size_t>(size));
    (void)BIO_reset(m_handles->outgoing);
}

bool TlsStream::has_outgoing() const
{
    return BIO_ctrl_pending(m_handles->outgoing) > 0;
}

void TlsStream::record_failure(int ssl_error, std::string_view during)
{
    long verify = SSL_get_verify_result(m_handles->ssl);
    if (verify != X509_V_OK) {
        m_error = std::string("certificate refused: ") + X509_verify_cert_error_string(verify);
        ERR_clear_error();
        return;
    }
    if (ssl_error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)
        m_error = std::string(during) + ": the server ended the connection";
    else
        m_error = std::string(during) + ": " + openssl_reason();
}

TlsStream::Progress TlsStream::handshake()
{
    ERR_clear_error();
    int rc = SSL_do_handshake(m_handles->ssl);
    if (rc == 1)
        return Progress::done;
    int error = SSL_get_error(m_handles->ssl, rc);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        return Progress::needs_data;
    record_failure(error, "TLS handshake");
    return Progress::failed;
}

bool TlsStream::write(std::string_view plain)
{
    while (!plain.empty()) {
        ERR_clear_error();
        std::size_t written = 0;
        int rc = SSL_write_ex(m_handles->ssl, plain.data(), plain.size(), &written);
        if (rc != 1) {
            record_failure(SSL_get_error(m_handles->ssl, rc), "TLS write");
            return false;
        }
        plain.remove_prefix(written);
    }
    return true;
}

TlsStream::Read TlsStream::read(char* buffer, std::size_t room)
{
    ERR_clear_error();
    std::size_t got = 0;
    int rc = SSL_read_ex(m_handles->ssl, buffer, room, &got);
    if (rc == 1)
        return {ReadStatus::ok, got};
    int error = SSL_get_error(m_handles->ssl, rc);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        return {ReadStatus::needs_data, 0};
    if (error == SSL_ERROR_ZERO_RETURN)
        return {ReadStatus::closed, 0};
    record_failure(error, "TLS read");
    return {ReadStatus::failed, 0};
}

void TlsStream::shut_down()
{
    ERR_clear_error();
    if (SSL_is_init_finished(m_handles->ssl))
        SSL_shutdown(m_handles->ssl);
    ERR_clear_error();
}

std::string TlsStream::description() const
{
    if (!SSL_is_init_finished(m_handles->ssl))
        return {};
    std::string text = SSL_get_version(m_handles->ssl);
    if (const SSL_CIPHER* cipher = SSL_get_current_cipher(m_handles->ssl)) {
        text += ' ';
        text += SSL_CIPHER_get_name(cipher);
    }
    return text;
}

}  // namespace corvane::transport

// TLS for the mail clients: the client side of one TLS connection as a
// filter between plain text and the bytes on the wire.
//
// The stream never touches a socket. Bytes received from the server go in
// with push_received(); bytes to send come out of take_outgoing(). So the
// line client moves every byte through the platform layer, and a test can
// run a handshake without a network.
//
// The server's certificate is verified against the system's trust store,
// plus the certificates of an optional CA file (an administrator's private
// CA), and must name the host we connected to: a DNS name (matched as RFC
// 6125 says, wildcards in the leftmost label only) or an IP address. TLS
// 1.2 is the lowest version spoken. Trust stores are loaded once per CA
// file and kept while the file is unchanged.
//
// What it does not do: client certificates, session resumption, and any
// way to turn verification off.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "common/platform/result.h"

namespace corvane::transport {

struct TlsOptions {
    // The host name or address the certificate must name; also sent as
    // the server name (SNI) when it is a name.
    std::string server_name;
    // A PEM file of certificates trusted besides the system store; empty
    // for none.
    std::string ca_file;
};

class TlsStream {
public:
    // Fails when the CA file cannot be read or OpenSSL cannot set up.
    static Result<std::unique_ptr<TlsStream>> client(const TlsOptions& options);
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // Ciphertext that arrived from the server.
    void push_received(std::string_view bytes);
    // Appends the ciphertext waiting to be sent to out and forgets it.
    void take_outgoing(std::string& out);
    bool has_outgoing() const;

    enum class Progress {
        done,        // the handshake is complete and the server verified
        needs_data,  // send what is outgoing, then push more received bytes
        failed,      // error() says why
    };
    Progress handshake();

    // Plain text to send; its ciphertext becomes outgoing. False after a
    // failure of the connection.
    bool write(std::string_view plain);

    enum class ReadStatus { ok, needs_data, closed, failed };
    struct Read {
        ReadStatus status = ReadStatus::ok;
        std::size_t bytes = 0;
    };
    // Decrypted plain text, at most room bytes.
    Read read(char* buffer, std::size_t room);

    // Says goodbye (close_notify becomes outgoing).
    void shut_down();

    // Why the last operation failed: the verification result for a
    // certificate that was refused, else OpenSSL's reason.
    const std::string& error() const { return m_error; }
    // The protocol and cipher agreed on, for a log line ("TLSv1.3
    // TLS_AES_256_GCM_SHA384"); empty before the handshake.
    std::string description() const;

private:
    struct Handles;
    explicit TlsStream(std::unique_ptr<Handles> handles);
    void record_failure(int ssl_error, std::string_view during);

    std::unique_ptr<Handles> m_handles;
    std::string m_error;
};

}  // namespace corvane::transport

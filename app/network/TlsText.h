// What the window, the status lines and the events file say of TLS: why a handshake failed and
// how to put it right, and what protects a connection that is up (protocol, cipher, the peer's
// certificate and how long it and ours still hold).
#pragma once

#include <ctime>
#include <string>

// Why a handshake did not end in a connection, as facts.
struct TlsFailure {
    enum class Kind {
        none,
        untrusted,           // the certificate does not chain to a trusted CA
        wrongName,           // it is made for another name
        expired,             // its end (date) has passed
        notYetValid,         // its start (date) has not come
        pinMismatch,         // its key is not one of PIN
        noCertificate,       // the client presented none, and CA asks for one
        wrongPurpose,        // it is not made for this side (a server's used as a client's)
        handshake,           // the handshake failed otherwise: detail says how
        closed,              // the peer closed the connection during the handshake
        timedOut,            // the handshake did not end in time
        certificateRequired, // the server asks for a client certificate, and none is set
    };
    Kind kind = Kind::none;
    bool peerIsServer = true; // whose certificate it was
    std::string date;         // "2026-11-30"
    std::string carried;      // the names the certificate carries, "127.0.0.9"
    std::string wanted;       // the name it should carry
    std::string caFile;       // the CA file, empty for the system's store
    std::string pin;          // the pin of its key
    std::string subject;      // its subject
    std::string detail;       // the library's own words
};

// The failure is the peer's certificate, not the protocol.
bool IsCertificateFailure(const TlsFailure& failure);
// The status line of the server connection: "服务器证书无效" or "加密握手失败".
std::string TlsStatusText(const TlsFailure& failure);
// Exactly why, and how to fix it: "its certificate expired on 2026-11-30; ...".
std::string TlsFailureTip(const TlsFailure& failure);

// What protects a connection that is up.
struct TlsFacts {
    std::string protocol; // "TLSv1.3"
    std::string cipher;   // "TLS_AES_256_GCM_SHA384"
    std::string subject;  // the peer's certificate subject, empty without one
    std::time_t peerNotAfter = 0;
    std::time_t ownNotAfter = 0; // 0 without a certificate of our own
};

// Days before a certificate's end when the tooltip starts to warn.
inline constexpr int TLS_EXPIRY_WARNING_DAYS = 14;

// "TLSv1.3, TLS_AES_256_GCM_SHA384; server CN=meter, valid until 2027-12-08", then a warning line
// for each certificate that ends within TLS_EXPIRY_WARNING_DAYS of now. peer names the peer's
// kind ("server", "client").
std::string TlsTip(const TlsFacts& facts, const std::string& peer, std::time_t now);
// A moment as its UTC date, "2026-11-30".
std::string DateText(std::time_t when);

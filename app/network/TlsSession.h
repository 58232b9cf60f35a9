// One TLS connection as bytes in memory: the peer's wire bytes go in, the bridge's bytes come
// out, and the other way round. It never touches a socket, so that the caller keeps every byte
// that goes on the wire in its own hands: it knows where each record ends, and so how much of
// the bridge's bytes a count of acknowledged wire bytes stands for.
#pragma once

#include "app/network/TlsConfig.h"
#include "app/network/TlsText.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>

struct ssl_st;
struct bio_st;

// The bridge's bytes that go into one record at the most.
inline constexpr std::size_t TLS_RECORD_PLAIN = 16384;
// How long a client without a certificate that the server asked for waits, after its handshake,
// for the server to refuse it (TLS 1.3 tells that only then) before the connection counts as up.
inline constexpr std::uint64_t TLS_VERDICT_MS = 2000;

class CTlsSession {
public:
    // peer: the peer's address, for the texts.
    CTlsSession(const CTlsConfig& config, std::string peer);
    ~CTlsSession();
    CTlsSession(const CTlsSession&) = delete;
    CTlsSession& operator=(const CTlsSession&) = delete;

    // Wire bytes from the peer, in order.
    void PutWire(const char* pData, std::size_t nLength);
    // The wire bytes it holds that make up at least one whole record.
    bool HoldsRecord() const;
    // Room for more wire bytes from the peer: what it holds is less than one whole record.
    bool WantsWire() const;

    // Moves the handshake on with what came: true once it is done, false while it goes on or
    // when it failed (Failed()).
    bool Handshake();
    bool Ready() const { return m_bReady; }
    bool Failed() const { return m_failure.kind != TlsFailure::Kind::none; }
    const TlsFailure& Failure() const { return m_failure; }
    void Fail(TlsFailure::Kind kind, std::string detail = {});

    // The bridge's bytes from what came: how many (up to nSize), 0 when none are whole yet, -1
    // when the peer ended the session (close_notify) and -2 when it broke it (Failed()).
    int ReadPlain(char* pBuffer, int nSize);
    // Tells the peer that this side ends the session (close_notify).
    void Close();
    // Seals the bridge's bytes into records, one per TLS_RECORD_PLAIN at the most.
    void WritePlain(const char* pData, std::size_t nLength);

    // The wire bytes for the peer made since the last call, in order.
    std::string TakeWire();
    // Wire bytes made so far, and the bridge's bytes sealed so far.
    std::int64_t WireMade() const { return m_nWire; }
    std::int64_t PlainSealed() const { return m_nPlain; }
    // The bridge's bytes whose records lie whole within the first nWire wire bytes; -1 for -1.
    std::int64_t PlainWithin(std::int64_t nWire) const;

    TlsFacts Facts() const;

private:
    void Collect();
    int OnVerify(struct x509_store_ctx_st* store);
    static int VerifyHook(struct x509_store_ctx_st* store, void* arg);
    static int CertificateAsked(ssl_st* ssl, x509_st** cert, struct evp_pkey_st** key);
    bool AwaitVerdict();
    void NoteCertificateFailure(int code, const x509_st* cert, const x509_st* leaf);

    const CTlsConfig& m_config;
    std::string m_peer;
    ssl_st* m_ssl = nullptr;
    bio_st* m_in = nullptr;  // the peer's wire bytes
    bio_st* m_out = nullptr; // wire bytes for the peer
    bool m_bReady = false;
    // The server asked for a client certificate and this side has none; at TLS 1.3 its verdict
    // comes after the handshake, and is awaited until m_nVerdictBy (a tick count; 0 not yet).
    bool m_bCertificateAsked = false;
    std::uint64_t m_nVerdictBy = 0;
    TlsFailure m_failure;
    std::string m_wire;
    std::int64_t m_nWire = 0;
    std::int64_t m_nPlain = 0;
    // (wire end, plain end) of the records sealed lately, oldest first.
    std::deque<std::pair<std::int64_t, std::int64_t>> m_records;
};

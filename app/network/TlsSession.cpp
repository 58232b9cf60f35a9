#include "app/network/TlsSession.h"

#include "app/network/Address.h"
#include "app/platform/Clock.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>

namespace {

// Records remembered for the count of acknowledged bytes: those of the last bytes sealed, as far
// as the send backlog keeps them (and a bound on the count of records, for tiny blocks).
constexpr std::int64_t kRecordsPlainSpan = std::int64_t{8} << 20;
constexpr std::size_t kMostRecords = std::size_t{1} << 20;

std::string NameText(const X509_NAME* name) {
    if (name == nullptr)
        return {};
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr)
        return {};
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    std::string text(data != nullptr && length > 0 ? data : "",
                     length > 0 ? static_cast<std::size_t>(length) : 0);
    BIO_free(bio);
    return text;
}

// The names a certificate is made for: its subjectAltName entries, or its common name.
std::string NamesOf(const X509* cert) {
    std::string names;
    auto* entries =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; entries != nullptr && i < sk_GENERAL_NAME_num(entries); ++i) {
        const GENERAL_NAME* entry = sk_GENERAL_NAME_value(entries, i);
        std::string one;
        if (entry->type == GEN_DNS) {
            const ASN1_STRING* text = entry->d.dNSName;
            one.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                       static_cast<std::size_t>(ASN1_STRING_length(text)));
        } else if (entry->type == GEN_IPADD && ASN1_STRING_length(entry->d.iPAddress) == 4) {
            const unsigned char* b = ASN1_STRING_get0_data(entry->d.iPAddress);
            one = Ipv4Text((std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
                           (std::uint32_t{b[2]} << 8) | b[3]);
        }
        if (!one.empty())
            names += (names.empty() ? "" : ", ") + one;
    }
    GENERAL_NAMES_free(entries);
    if (!names.empty())
        return names;
    char common[256] = {};
    if (X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, common,
                                  sizeof(common)) > 0)
        return common;
    return {};
}

std::string LibraryReason() {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return reason != nullptr ? reason : "";
}

} // namespace

CTlsSession::CTlsSession(const CTlsConfig& config, std::string peer)
    : m_config(config), m_peer(std::move(peer)) {
    SSL_CTX* ctx = config.Context();
    SSL_CTX_set_cert_verify_callback(ctx, &CTlsSession::VerifyHook, nullptr);
    m_ssl = SSL_new(ctx);
    m_in = BIO_new(BIO_s_mem());
    m_out = BIO_new(BIO_s_mem());
    if (m_ssl == nullptr || m_in == nullptr || m_out == nullptr) {
        BIO_free(m_in);
        BIO_free(m_out);
        m_in = m_out = nullptr;
        Fail(TlsFailure::Kind::handshake, "out of memory");
        return;
    }
    // An empty buffer means "more to come", never the end of the stream.
    BIO_set_mem_eof_return(m_in, -1);
    BIO_set_mem_eof_return(m_out, -1);
    SSL_set_bio(m_ssl, m_in, m_out);
    SSL_set_app_data(m_ssl, this);
    if (config.GetRole() == CTlsConfig::Role::client) {
        SSL_set_connect_state(m_ssl);
        SSL_CTX_set_client_cert_cb(ctx, &CTlsSession::CertificateAsked);
        SSL_set_verify(m_ssl, SSL_VERIFY_PEER, nullptr);
        const std::string& name = config.WantedName();
        // The name the certificate must carry: a check that could not be set up refuses the
        // server rather than let any name through. A host name is checked as a host name only:
        // the library's own guess would take "127.0.0.1.example.net" for the address 127.0.0.1.
        const bool bChecked =
            ParseIpv4(name)
                ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), name.c_str()) == 1
                : !name.empty() &&
                      X509_VERIFY_PARAM_set1_host(SSL_get0_param(m_ssl), name.data(),
                                                  name.size()) == 1 &&
                      SSL_set_tlsext_host_name(m_ssl, name.c_str()) == 1;
        if (!bChecked)
            Fail(TlsFailure::Kind::handshake, "the name " + name + " cannot be checked");
    } else {
        SSL_set_accept_state(m_ssl);
        SSL_set_verify(m_ssl,
                       config.CaFile().empty() ? SSL_VERIFY_NONE
                                               : SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT,
                       nullptr);
    }
}

CTlsSession::~CTlsSession() {
    SSL_free(m_ssl); // with its two buffers
}

void CTlsSession::PutWire(const char* pData, std::size_t nLength) {
    if (m_in != nullptr && nLength > 0)
        BIO_write(m_in, pData, static_cast<int>(nLength));
}

bool CTlsSession::HoldsRecord() const {
    if (m_ssl == nullptr)
        return false;
    if (SSL_pending(m_ssl) > 0)
        return true;
    char* data = nullptr;
    const long length = BIO_get_mem_data(m_in, &data);
    if (length < 5 || data == nullptr)
        return false;
    const long record =
        (static_cast<unsigned char>(data[3]) << 8) | static_cast<unsigned char>(data[4]);
    return length >= 5 + record;
}

bool CTlsSession::WantsWire() const {
    return m_ssl != nullptr && !Failed() && !HoldsRecord();
}

void CTlsSession::Fail(TlsFailure::Kind kind, std::string detail) {
    if (Failed())
        return;
    // A server that asked for a certificate this side does not have and then broke off refused
    // it, whatever its alert says ("handshake failure" at TLS 1.2, "certificate required" at 1.3).
    if (m_bCertificateAsked &&
        (kind == TlsFailure::Kind::handshake || kind == TlsFailure::Kind::closed))
        kind = TlsFailure::Kind::certificateRequired;
    m_failure.kind = kind;
    m_failure.peerIsServer = m_config.GetRole() == CTlsConfig::Role::client;
    m_failure.caFile = m_config.CaFile();
    m_failure.detail = std::move(detail);
}

bool CTlsSession::Handshake() {
    if (m_bReady)
        return true;
    if (Failed() || m_ssl == nullptr)
        return false;
    if (m_nVerdictBy != 0)
        return AwaitVerdict();
    ERR_clear_error();
    const int result = SSL_do_handshake(m_ssl);
    const int error = SSL_get_error(m_ssl, result);
    Collect();
    if (result == 1) {
        if (m_bCertificateAsked && SSL_version(m_ssl) >= TLS1_3_VERSION) {
            m_nVerdictBy = GetTickCount64() + TLS_VERDICT_MS;
            return AwaitVerdict();
        }
        m_bReady = true;
        return true;
    }
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        return false;
    const unsigned long code = ERR_peek_last_error();
    const std::string reason = LibraryReason();
    if (m_config.GetRole() == CTlsConfig::Role::server &&
        ERR_GET_REASON(code) == SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE)
        Fail(TlsFailure::Kind::noCertificate);
    else
        Fail(TlsFailure::Kind::handshake, reason);
    return false;
}

// The server's verdict on a client that has no certificate for it: a refusal fails the session; a
// record that is none (a session ticket, data) or the end of the wait lets it count as up. Data
// stays in the session for the first read.
bool CTlsSession::AwaitVerdict() {
    const bool bWholeRecord = HoldsRecord();
    char probe = 0;
    ERR_clear_error();
    const int result = SSL_peek(m_ssl, &probe, 1);
    const int error = SSL_get_error(m_ssl, result);
    Collect();
    if (result > 0 || (error == SSL_ERROR_WANT_READ && bWholeRecord) ||
        (error == SSL_ERROR_WANT_READ && GetTickCount64() >= m_nVerdictBy)) {
        m_bReady = true;
        return true;
    }
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        return false;
    Fail(TlsFailure::Kind::certificateRequired, LibraryReason());
    return false;
}

int CTlsSession::ReadPlain(char* pBuffer, int nSize) {
    if (!Handshake())
        return Failed() ? -2 : 0;
    ERR_clear_error();
    const int result = SSL_read(m_ssl, pBuffer, nSize);
    const int error = SSL_get_error(m_ssl, result);
    Collect();
    if (result > 0)
        return result;
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        return 0;
    if (error == SSL_ERROR_ZERO_RETURN)
        return -1;
    Fail(TlsFailure::Kind::handshake, LibraryReason());
    return -2;
}

void CTlsSession::WritePlain(const char* pData, std::size_t nLength) {
    while (nLength > 0 && m_bReady && !Failed()) {
        const int chunk = static_cast<int>(std::min(nLength, TLS_RECORD_PLAIN));
        ERR_clear_error();
        const int result = SSL_write(m_ssl, pData, chunk);
        if (result <= 0) {
            Fail(TlsFailure::Kind::handshake, LibraryReason());
            return;
        }
        Collect();
        m_nPlain += result;
        m_records.emplace_back(m_nWire, m_nPlain);
        pData += result;
        nLength -= static_cast<std::size_t>(result);
    }
    while (!m_records.empty() && (m_records.size() > kMostRecords ||
                                  m_records.front().second < m_nPlain - kRecordsPlainSpan))
        m_records.pop_front();
}

void CTlsSession::Close() {
    if (!m_bReady || Failed())
        return;
    ERR_clear_error();
    SSL_shutdown(m_ssl);
    ERR_clear_error();
    Collect();
}

void CTlsSession::Collect() {
    if (m_out == nullptr)
        return;
    char* data = nullptr;
    const long length = BIO_get_mem_data(m_out, &data);
    if (length <= 0 || data == nullptr)
        return;
    m_wire.append(data, static_cast<std::size_t>(length));
    m_nWire += length;
    (void)BIO_reset(m_out);
}

std::string CTlsSession::TakeWire() {
    std::string wire;
    wire.swap(m_wire);
    return wire;
}

std::int64_t CTlsSession::PlainWithin(std::int64_t nWire) const {
    if (nWire < 0)
        return -1;
    // The last record that ends within nWire.
    auto after =
        std::upper_bound(m_records.begin(), m_records.end(), nWire,
                         [](std::int64_t n, const auto& record) { return n < record.first; });
    if (after == m_records.begin())
        return 0;
    return std::prev(after)->second;
}

TlsFacts CTlsSession::Facts() const {
    TlsFacts facts;
    if (m_ssl == nullptr || !m_bReady)
        return facts;
    facts.protocol = SSL_get_version(m_ssl);
    facts.cipher = SSL_get_cipher_name(m_ssl);
    if (const X509* cert = SSL_get0_peer_certificate(m_ssl)) {
        facts.subject = NameText(X509_get_subject_name(cert));
        facts.peerNotAfter = CertificateNotAfter(cert);
    }
    facts.ownNotAfter = m_config.OwnNotAfter();
    return facts;
}

// Called when the server asks for a client certificate and none is set: none is sent, and the
// session remembers that it was asked.
int CTlsSession::CertificateAsked(SSL* ssl, X509**, EVP_PKEY**) {
    if (auto* self = static_cast<CTlsSession*>(SSL_get_app_data(ssl)))
        self->m_bCertificateAsked = true;
    return 0;
}

int CTlsSession::VerifyHook(X509_STORE_CTX* store, void*) {
    SSL* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* self = ssl != nullptr ? static_cast<CTlsSession*>(SSL_get_app_data(ssl)) : nullptr;
    return self != nullptr ? self->OnVerify(store) : 0;
}

// The peer's certificate: the chain, the name and the dates as the settings ask, then the pins.
int CTlsSession::OnVerify(X509_STORE_CTX* store) {
    const X509* leaf = X509_STORE_CTX_get0_cert(store);
    const bool client = m_config.GetRole() == CTlsConfig::Role::client;
    if (!(client && m_config.PinOnly()) && X509_verify_cert(store) != 1) {
        NoteCertificateFailure(X509_STORE_CTX_get_error(store),
                               X509_STORE_CTX_get_current_cert(store), leaf);
        return 0;
    }
    if (client && !m_config.Pins().empty()) {
        const auto pin = PinOf(leaf);
        const auto& pins = m_config.Pins();
        if (!pin || std::find(pins.begin(), pins.end(), *pin) == pins.end()) {
            Fail(TlsFailure::Kind::pinMismatch);
            m_failure.pin = pin ? PinText(*pin) : "";
            m_failure.subject = leaf != nullptr ? NameText(X509_get_subject_name(leaf)) : "";
            X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
            return 0;
        }
    }
    return 1;
}

void CTlsSession::NoteCertificateFailure(int code, const X509* cert, const X509* leaf) {
    using Kind = TlsFailure::Kind;
    if (cert == nullptr)
        cert = leaf;
    switch (code) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        Fail(Kind::expired);
        m_failure.date = DateText(CertificateNotAfter(cert));
        break;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        Fail(Kind::notYetValid);
        m_failure.date = DateText(CertificateNotBefore(cert));
        break;
    case X509_V_ERR_INVALID_PURPOSE:
        Fail(Kind::wrongPurpose);
        break;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        Fail(Kind::wrongName);
        m_failure.carried = leaf != nullptr ? NamesOf(leaf) : "";
        m_failure.wanted = m_config.WantedName();
        break;
    default:
        Fail(Kind::untrusted, X509_verify_cert_error_string(code));
        break;
    }
    if (leaf != nullptr) {
        m_failure.subject = NameText(X509_get_subject_name(leaf));
        if (const auto pin = PinOf(leaf))
            m_failure.pin = PinText(*pin);
    }
}

// The settings of TLS ([Socket] TLS and section [TLS] of the settings file), checked and made
// ready for connections: the trusted CAs, the name the server must carry, the pins of its key,
// and this side's certificate and key. Every file is read here, before anything connects, so
// that a missing file, a key that does not fit its certificate or a pin that does not parse is
// told at once, naming the file or the key; nothing then falls back to clear text.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ssl_ctx_st;
struct x509_st;

struct TlsSettings {
    bool enabled = false;
    std::string ca;   // PEM file of the CAs to trust; empty: the system's store (client mode)
    std::string name; // the name the server's certificate must carry; empty: the server's IP
    std::string pins; // "sha256//BASE64;sha256//BASE64"
    std::string cert; // this side's certificate chain, PEM
    std::string key;  // and its private key, PEM, not encrypted
};

using KeyPin = std::array<unsigned char, 32>;

// "sha256//BASE64" entries separated by ';' (blanks around them ignored): the SHA-256 of each
// key's SubjectPublicKeyInfo. Nothing when an entry does not parse; *pBad is that entry then.
std::optional<std::vector<KeyPin>> ParsePins(std::string_view text, std::string* pBad = nullptr);
// The pin of a key in the same form: "sha256//" and the base64 of its SHA-256.
std::string PinText(const KeyPin& pin);

// Of a certificate: the pin of its key; its end and start (0 when it has none).
std::optional<KeyPin> PinOf(const x509_st* cert);
std::time_t CertificateNotAfter(const x509_st* cert);
std::time_t CertificateNotBefore(const x509_st* cert);

class CTlsConfig {
public:
    enum class Role { client, server };

    // The settings made ready for one role; nothing and *pError (what is wrong, naming the file
    // or the key) when they cannot be. serverIp is the name a client wants without NAME.
    static std::unique_ptr<CTlsConfig> Make(const TlsSettings& settings, Role role,
                                            const std::string& serverIp, std::string* pError);
    ~CTlsConfig();
    CTlsConfig(const CTlsConfig&) = delete;
    CTlsConfig& operator=(const CTlsConfig&) = delete;

    Role GetRole() const { return m_role; }
    ssl_ctx_st* Context() const { return m_ctx; }
    // The name the peer's certificate must carry (client mode), and whether it is an IP address.
    const std::string& WantedName() const { return m_name; }
    // The CA file as the settings name it; empty for the system's store.
    const std::string& CaFile() const { return m_ca; }
    const std::vector<KeyPin>& Pins() const { return m_pins; }
    // With pins and no CA only the pin counts: the chain, the name and the dates do not.
    bool PinOnly() const { return !m_pins.empty() && m_ca.empty(); }
    // The end of this side's own certificate, 0 without one.
    std::time_t OwnNotAfter() const { return m_ownNotAfter; }

private:
    explicit CTlsConfig(Role role) : m_role(role) {}

    Role m_role;
    ssl_ctx_st* m_ctx = nullptr;
    std::string m_name;
    std::string m_ca;
    std::vector<KeyPin> m_pins;
    std::time_t m_ownNotAfter = 0;
};

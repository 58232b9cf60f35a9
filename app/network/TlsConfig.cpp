#include "app/network/TlsConfig.h"
#include "app/network/Address.h"
#include "app/platform/TrustStore.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::string_view kPinPrefix = "sha256//";

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Exactly 32 bytes in padded base64 (44 characters, one '=' at the end).
std::optional<KeyPin> DecodePin(std::string_view text) {
    if (text.size() != 44 || text[43] != '=')
        return std::nullopt;
    KeyPin pin{};
    std::uint32_t bits = 0;
    int nBits = 0;
    std::size_t out = 0;
    for (std::size_t i = 0; i < 43; ++i) {
        const int value = Base64Value(text[i]);
        if (value < 0)
            return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        nBits += 6;
        if (nBits >= 8) {
            nBits -= 8;
            if (out == pin.size())
                return std::nullopt;
            pin[out++] = static_cast<unsigned char>((bits >> nBits) & 0xFF);
        }
    }
    // 43 characters carry 258 bits: 32 bytes and two bits that must be zero.
    if (out != pin.size() || (bits & ((1u << nBits) - 1)) != 0)
        return std::nullopt;
    return pin;
}

// Empty (the server's IP is wanted then), or at most 253 letters, digits, '-', '.' and '_'. Digits
// and dots alone must be an IPv4 address as the house reads them: the certificate check would
// take 127.0.00.1 for 127.0.0.1, and what looks like an address is checked as one or refused.
bool HostName(const std::string& name) {
    if (name.size() > 253)
        return false;
    if (!name.empty() && name.find_first_not_of("0123456789.") == std::string::npos)
        return ParseIpv4(name).has_value();
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.' || c == '_';
    });
}

// Whether the file can be opened for reading; otherwise why not.
bool Readable(const std::string& path, std::string& why) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        why = std::strerror(errno);
        return false;
    }
    std::fclose(file);
    return true;
}

std::string LibraryReason() {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (code == 0)
        return "not in PEM form";
    const char* reason = ERR_reason_error_string(code);
    return reason != nullptr ? reason : "not in PEM form";
}

std::time_t TimeOf(const ASN1_TIME* time) {
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return 0;
    using namespace std::chrono;
    const sys_days day = year{parts.tm_year + 1900} / (parts.tm_mon + 1) / parts.tm_mday;
    return system_clock::to_time_t(day + hours{parts.tm_hour} + minutes{parts.tm_min} +
                                   seconds{parts.tm_sec});
}

// The system's trusted roots: where the library finds them itself, or as the platform gives them.
void UseSystemStore(SSL_CTX* ctx) {
    const auto roots = platform::SystemRootCertificates();
    if (!roots) {
        SSL_CTX_set_default_verify_paths(ctx);
        return;
    }
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    for (const std::string& der : *roots) {
        const auto* data = reinterpret_cast<const unsigned char*>(der.data());
        X509* cert = d2i_X509(nullptr, &data, static_cast<long>(der.size()));
        if (cert != nullptr)
            X509_STORE_add_cert(store, cert); // a root that is there twice is no error
        X509_free(cert);
    }
    ERR_clear_error();
}

} // namespace

std::time_t CertificateNotAfter(const x509_st* cert) {
    return cert != nullptr ? TimeOf(X509_get0_notAfter(cert)) : 0;
}

std::time_t CertificateNotBefore(const x509_st* cert) {
    return cert != nullptr ? TimeOf(X509_get0_notBefore(cert)) : 0;
}

std::optional<std::vector<KeyPin>> ParsePins(std::string_view text, std::string* pBad) {
    std::vector<KeyPin> pins;
    while (!text.empty()) {
        const std::size_t end = text.find(';');
        const std::string_view entry = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (entry.empty())
            continue;
        std::optional<KeyPin> pin;
        if (entry.substr(0, kPinPrefix.size()) == kPinPrefix)
            pin = DecodePin(entry.substr(kPinPrefix.size()));
        if (!pin) {
            if (pBad != nullptr)
                *pBad = std::string(entry);
            return std::nullopt;
        }
        pins.push_back(*pin);
    }
    return pins;
}

std::string PinText(const KeyPin& pin) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text(kPinPrefix);
    for (std::size_t i = 0; i < pin.size(); i += 3) {
        const std::uint32_t b0 = pin[i];
        const std::uint32_t b1 = i + 1 < pin.size() ? pin[i + 1] : 0;
        const std::uint32_t b2 = i + 2 < pin.size() ? pin[i + 2] : 0;
        const std::uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
        text += kDigits[(triple >> 18) & 63];
        text += kDigits[(triple >> 12) & 63];
        text += i + 1 < pin.size() ? kDigits[(triple >> 6) & 63] : '=';
        text += i + 2 < pin.size() ? kDigits[triple & 63] : '=';
    }
    return text;
}

std::optional<KeyPin> PinOf(const x509_st* cert) {
    if (cert == nullptr)
        return std::nullopt;
    unsigned char* der = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert), &der);
    if (length <= 0)
        return std::nullopt;
    KeyPin pin{};
    unsigned int size = 0;
    const bool ok = EVP_Digest(der, static_cast<std::size_t>(length), pin.data(), &size,
                               EVP_sha256(), nullptr) == 1 &&
                    size == pin.size();
    OPENSSL_free(der);
    return ok ? std::optional<KeyPin>(pin) : std::nullopt;
}

std::unique_ptr<CTlsConfig> CTlsConfig::Make(const TlsSettings& settings, Role role,
                                             const std::string& serverIp, std::string* pError) {
    std::string ignored;
    std::string& error = pError != nullptr ? *pError : ignored;
    std::unique_ptr<CTlsConfig> config(new CTlsConfig(role));
    config->m_ca = settings.ca;
    config->m_name = settings.name.empty() ? serverIp : settings.name;
    // A name the certificate check could not take whole (a NUL would end it early, an empty one
    // would check nothing) is refused here, never left to a check that passes anything.
    if (!HostName(settings.name)) {
        error = "NAME in [TLS]: \"" + settings.name +
                "\" is not a host name or an IPv4 address (letters, digits, '-', '.', '_')";
        return nullptr;
    }

    std::string bad;
    auto pins = ParsePins(settings.pins, &bad);
    if (!pins) {
        error = "PIN in [TLS]: \"" + bad +
                "\" is not sha256// followed by the base64 of a SHA-256 (44 characters)";
        return nullptr;
    }
    if (role == Role::client)
        config->m_pins = std::move(*pins);
    else if (!pins->empty()) {
        error = "PIN in [TLS] is for a server's key; a listener checks its clients with CA";
        return nullptr;
    }
    if (role == Role::server && (settings.cert.empty() || settings.key.empty())) {
        error = "CERT and KEY in [TLS] are needed to listen with TLS";
        return nullptr;
    }
    if (settings.cert.empty() != settings.key.empty()) {
        error = settings.cert.empty() ? "KEY in [TLS] is set without CERT"
                                      : "CERT in [TLS] is set without KEY";
        return nullptr;
    }
    const std::pair<const char*, const std::string*> files[] = {
        {"CA", &settings.ca}, {"CERT", &settings.cert}, {"KEY", &settings.key}};
    for (const auto& [key, path] : files) {
        std::string why;
        if (!path->empty() && !Readable(*path, why)) {
            error = std::string(key) + " in [TLS]: cannot read " + *path + " (" + why + ")";
            return nullptr;
        }
    }

    SSL_CTX* ctx = SSL_CTX_new(role == Role::client ? TLS_client_method() : TLS_server_method());
    if (ctx == nullptr) {
        error = "TLS could not start: " + LibraryReason();
        return nullptr;
    }
    config->m_ctx = ctx;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // The transport writes each record whole into its own buffer: a write never comes back half
    // done, and a record may move in memory before it is passed on.
    SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);

    if (!settings.ca.empty()) {
        if (SSL_CTX_load_verify_locations(ctx, settings.ca.c_str(), nullptr) != 1) {
            error =
                "CA in [TLS]: " + settings.ca + " holds no certificate (" + LibraryReason() + ")";
            return nullptr;
        }
        if (role == Role::server) {
            STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(settings.ca.c_str());
            if (names != nullptr)
                SSL_CTX_set_client_CA_list(ctx, names);
        }
    } else if (role == Role::client && config->m_pins.empty()) {
        UseSystemStore(ctx);
    }

    if (!settings.cert.empty()) {
        if (SSL_CTX_use_certificate_chain_file(ctx, settings.cert.c_str()) != 1) {
            error = "CERT in [TLS]: " + settings.cert + " holds no certificate (" +
                    LibraryReason() + ")";
            return nullptr;
        }
        const bool bLoaded =
            SSL_CTX_use_PrivateKey_file(ctx, settings.key.c_str(), SSL_FILETYPE_PEM) == 1;
        const bool bMismatch =
            bLoaded ? SSL_CTX_check_private_key(ctx) != 1
                    : ERR_GET_REASON(ERR_peek_last_error()) == X509_R_KEY_VALUES_MISMATCH;
        if (bMismatch) {
            ERR_clear_error();
            error = "KEY in [TLS]: " + settings.key + " does not match the certificate in " +
                    settings.cert;
            return nullptr;
        }
        if (!bLoaded) {
            error = "KEY in [TLS]: " + settings.key + " holds no unencrypted private key (" +
                    LibraryReason() + ")";
            return nullptr;
        }
        config->m_ownNotAfter = CertificateNotAfter(SSL_CTX_get0_certificate(ctx));
    }
    return config;
}

CTlsConfig::~CTlsConfig() {
    SSL_CTX_free(m_ctx);
}

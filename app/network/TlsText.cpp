#include "app/network/TlsText.h"

#include <chrono>
#include <cstdio>

namespace {

using Kind = TlsFailure::Kind;

std::string Whose(const TlsFailure& f) {
    return f.peerIsServer ? "the server's certificate" : "the client's certificate";
}

std::string CaText(const TlsFailure& f) {
    return f.caFile.empty() ? "the system's store" : f.caFile;
}

std::string ExpiryWarning(const char* whose, std::time_t notAfter, std::time_t now) {
    if (notAfter == 0)
        return {};
    const std::time_t left = notAfter - now;
    if (left > static_cast<std::time_t>(TLS_EXPIRY_WARNING_DAYS) * 86400)
        return {};
    if (left <= 0)
        return std::string("\nWarning: ") + whose + " certificate expired on " + DateText(notAfter);
    const long days = static_cast<long>(left / 86400);
    return std::string("\nWarning: ") + whose + " certificate expires on " + DateText(notAfter) +
           (days == 0 ? ", within a day" : ", in " + std::to_string(days) + " days") +
           "; renew it before then";
}

} // namespace

bool IsCertificateFailure(const TlsFailure& failure) {
    switch (failure.kind) {
    case Kind::untrusted:
    case Kind::wrongName:
    case Kind::expired:
    case Kind::notYetValid:
    case Kind::pinMismatch:
    case Kind::noCertificate:
    case Kind::wrongPurpose:
        return true;
    default:
        return false;
    }
}

std::string TlsStatusText(const TlsFailure& failure) {
    return IsCertificateFailure(failure) ? "服务器证书无效" : "加密握手失败";
}

std::string TlsFailureTip(const TlsFailure& f) {
    const std::string whose = Whose(f);
    const std::string subject = f.subject.empty() ? "" : " (" + f.subject + ")";
    switch (f.kind) {
    case Kind::none:
        return {};
    case Kind::untrusted:
        return whose + subject + " is not from a CA in " + CaText(f) +
               "; add the CA that signed it to " + (f.caFile.empty() ? "CA" : f.caFile) +
               (f.peerIsServer && !f.pin.empty() ? ", or trust this one key alone with PIN=" + f.pin
                                                 : "");
    case Kind::wrongName:
        return whose + " is made for " + (f.carried.empty() ? "no name" : f.carried) + ", not " +
               f.wanted + "; give the server a certificate for " + f.wanted +
               ", or set NAME in [TLS] to a name it carries";
    case Kind::expired:
        return whose + subject + " expired on " + f.date +
               "; it needs a new one (or this machine's clock is wrong)";
    case Kind::notYetValid:
        return whose + subject + " is valid only from " + f.date + "; check this machine's clock";
    case Kind::pinMismatch:
        return "its key does not match PIN: the server's key is " + f.pin +
               "; if that key changed on purpose, put it in PIN";
    case Kind::noCertificate:
        return "the client presented no certificate, and CA asks for one from " + CaText(f);
    case Kind::wrongPurpose:
        return whose + subject + " is not made for a TLS " +
               (f.peerIsServer ? "server" : "client") +
               " (its extended key usage says otherwise); " + "it needs one issued for " +
               (f.peerIsServer ? "serverAuth" : "clientAuth");
    case Kind::handshake:
        return "the TLS handshake failed: " + (f.detail.empty() ? "protocol error" : f.detail);
    case Kind::closed:
        return "the peer closed the connection during the TLS handshake" +
               (f.detail.empty() ? "" : " (" + f.detail + ")");
    case Kind::timedOut:
        return "the TLS handshake did not end within the time allowed";
    case Kind::certificateRequired:
        return "the server asks for a client certificate: set CERT and KEY in [TLS]" +
               (f.detail.empty() ? "" : " (" + f.detail + ")");
    }
    return {};
}

std::string DateText(std::time_t when) {
    using namespace std::chrono;
    const year_month_day day{floor<days>(system_clock::from_time_t(when))};
    char text[16];
    std::snprintf(text, sizeof(text), "%04d-%02u-%02u", static_cast<int>(day.year()),
                  static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
    return text;
}

std::string TlsTip(const TlsFacts& facts, const std::string& peer, std::time_t now) {
    std::string tip = facts.protocol + ", " + facts.cipher;
    if (!facts.subject.empty())
        tip += "; " + peer + " " + facts.subject +
               (facts.peerNotAfter != 0 ? ", valid until " + DateText(facts.peerNotAfter) : "");
    tip += ExpiryWarning(("the " + peer + "'s").c_str(), facts.peerNotAfter, now);
    tip += ExpiryWarning("our own", facts.ownNotAfter, now);
    return tip;
}

// The system's own store of the certificate authorities it trusts, for TLS without a CA file of
// its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The certificates of the system's trusted root authorities, DER each. Nothing where the TLS
// library finds the system's store by itself (POSIX: the library's folder of certificates).
std::optional<std::vector<std::string>> SystemRootCertificates();

} // namespace platform

#include "app/platform/TrustStore.h"

namespace platform {

std::optional<std::vector<std::string>> SystemRootCertificates() {
    return std::nullopt; // the TLS library reads the system's folder of certificates itself
}

} // namespace platform

// The system's store "ROOT" of the current user, which holds the machine's roots as well.
#include "app/platform/TrustStore.h"

#include <windows.h>

// After windows.h, whose types it uses.
#include <wincrypt.h>

namespace platform {

std::optional<std::vector<std::string>> SystemRootCertificates() {
    std::vector<std::string> roots;
    HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    if (store == nullptr)
        return roots;
    for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr); cert != nullptr;
         cert = CertEnumCertificatesInStore(store, cert))
        roots.emplace_back(reinterpret_cast<const char*>(cert->pbCertEncoded), cert->cbCertEncoded);
    CertCloseStore(store, 0);
    return roots;
}

} // namespace platform

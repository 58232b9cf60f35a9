// No service options on POSIX: the system's service manager starts the program as it is.
#include "app/service/Service.h"

namespace service {

bool Offered() {
    return false;
}

const char* Usage() {
    return "";
}

int Install(const std::string&, const std::string&) {
    return 2;
}

int Remove(const std::string&) {
    return 2;
}

int Run(const std::string&, const std::string&, const std::function<int(std::FILE*)>&,
        const std::function<void()>&, const std::function<void()>&) {
    return 2;
}

} // namespace service

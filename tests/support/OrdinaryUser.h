// Checks that only hold for an ordinary user (permission denied, a folder or file that cannot be
// written) run in a child process that drops to an unprivileged user first, so that they run, and
// mean something, when the tests themselves run as root (as they do in CI).
#pragma once

#include <functional>

namespace testing_support {

// The user and group the child drops to (nobody and nogroup).
inline constexpr unsigned kOrdinaryId = 65534;

// Forks; the child drops to kOrdinaryId when it runs as root (a test already run by an ordinary
// user stays that user), runs `subject` and ends with its result. Returns that result; false
// when the child could not drop its privileges or did not end normally. The subject runs on the
// only thread of the child: it must not wait for threads of the parent.
bool RunAsOrdinaryUser(const std::function<bool()>& subject);

} // namespace testing_support

// The test seams that every backend keeps alike: they set the framework's hooks (Hooks.h).
#include "app/framework/TestHooks.h"

#include <utility>

void SetMessageBoxAnswererForTest(std::function<int(const MessageBoxCall&)> answerer) {
    afx::g_messageBoxAnswerer = std::move(answerer);
}

void SetModalHookForTest(std::function<void(CDialog&)> hook) {
    afx::g_modalHook = std::move(hook);
}

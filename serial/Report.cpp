#include "serial/Report.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace diag {
namespace {

std::mutex g_mutex;
Sink g_sink;

bool ToStandardError() {
#ifdef NDEBUG
    const bool debugBuild = false;
#else
    const bool debugBuild = true;
#endif
    static const bool asked = [] {
        const char* value = std::getenv("VARNEL_SERIAL_TRACE");
        return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
    }();
    return debugBuild || asked;
}

} // namespace

void Emit(Kind kind, const char* file, int line, const char* text) {
    std::unique_lock lock(g_mutex);
    if (g_sink) {
        Sink sink = g_sink;
        lock.unlock();
        sink(Report{kind, file, line, text});
        return;
    }
    lock.unlock();
    if (ToStandardError()) {
        if (kind == Kind::assertion)
            std::fprintf(stderr, "%s(%d) : Assertion failed: %s\n", file, line, text);
        else {
            std::size_t n = std::strlen(text);
            const char* end = (n > 0 && text[n - 1] == '\n') ? "" : "\n";
            std::fprintf(stderr, "%s(%d) : Warning: %s%s", file, line, text, end);
        }
    }
}

Sink SetSink(Sink sink) {
    std::lock_guard lock(g_mutex);
    Sink previous = std::move(g_sink);
    g_sink = std::move(sink);
    return previous;
}

} // namespace diag

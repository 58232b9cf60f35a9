// Debug traces and assertions of the serial port object. Everything goes through Emit: to a sink
// when one is installed (tests), else to standard error in debug builds, or in any build when
// the environment variable VARNEL_SERIAL_TRACE is set to something other than "0".
// Nothing here changes a result.
#pragma once

#include <functional>
#include <string>

namespace diag {

enum class Kind { warning, assertion };

struct Report {
    Kind kind;
    std::string file;
    int line;
    std::string text;
};

using Sink = std::function<void(const Report&)>;

void Emit(Kind kind, const char* file, int line, const char* text);
// Installs a sink (an empty one removes it) and returns the one it replaces.
Sink SetSink(Sink sink);

} // namespace diag

#define SERIAL_TRACE(text) ::diag::Emit(::diag::Kind::warning, __FILE_NAME__, __LINE__, text)
#define SERIAL_ASSERT(expr)                                                                        \
    do {                                                                                           \
        if (!(expr))                                                                               \
            ::diag::Emit(::diag::Kind::assertion, __FILE_NAME__, __LINE__, #expr);                 \
    } while (0)

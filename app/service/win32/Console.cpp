// The program's console on Windows: the command line read as UTF-16 (the narrow one is in the
// code page) and the console's output code page set to UTF-8, in which the status lines are
// written.
#include "app/service/Console.h"

#include <windows.h>
// After the system's header, whose types it uses.
#include <shellapi.h>

namespace {

std::string Utf8(const wchar_t* text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return {};
    std::string s(static_cast<std::size_t>(n - 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, s.data(), n, nullptr, nullptr);
    return s;
}

} // namespace

std::vector<std::string> StartConsole(int argc, char** argv) {
    ::SetConsoleOutputCP(CP_UTF8); // fails harmlessly without a console (a service)
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!words)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i)
        args.push_back(Utf8(words[i]));
    ::LocalFree(words);
    return args;
}

// The program's console on Windows: the command line read as UTF-16 (the narrow one is in the
// code page) and the console's output code page set to UTF-8, in which the status lines are
// written.
#include "app/service/Console.h"

#include <windows.h>
// After the system's header, whose types it uses.
#include "app/service/win32/WideText.h"
#include <shellapi.h>

using service::Utf8;
using service::Wide;

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

void SplitPath(const std::string& strPath, std::string& strFolder, std::string& strName) {
    const std::size_t nSep = strPath.find_last_of("/\\:");
    if (nSep == std::string::npos) {
        strFolder = ".";
        strName = strPath;
        return;
    }
    // "C:" and "C:\" are folders as they are; "C:name" is name in C:'s current folder.
    const bool bRoot = strPath[nSep] == ':' || nSep == 0 || (nSep == 2 && strPath[1] == ':');
    strFolder = strPath.substr(0, bRoot ? nSep + 1 : nSep);
    strName = strPath.substr(nSep + 1);
}

bool EnterFolder(const std::string& strFolder) {
    return ::SetCurrentDirectoryW(Wide(strFolder).c_str()) != 0;
}

bool IsFile(const std::string& strPath) {
    const DWORD attributes = ::GetFileAttributesW(Wide(strPath).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

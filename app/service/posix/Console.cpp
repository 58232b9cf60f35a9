// The program's console on POSIX: the words and the terminal are UTF-8 already.
#include "app/service/Console.h"

#include <sys/stat.h>
#include <unistd.h>

std::vector<std::string> StartConsole(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void SplitPath(const std::string& strPath, std::string& strFolder, std::string& strName) {
    const std::size_t nSlash = strPath.rfind('/');
    strFolder = nSlash == std::string::npos ? "." : nSlash == 0 ? "/" : strPath.substr(0, nSlash);
    strName = nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

bool EnterFolder(const std::string& strFolder) {
    return ::chdir(strFolder.c_str()) == 0;
}

bool IsFile(const std::string& strPath) {
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

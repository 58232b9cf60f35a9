// The program's console on POSIX: the words and the terminal are UTF-8 already.
#include "app/service/Console.h"

std::vector<std::string> StartConsole(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

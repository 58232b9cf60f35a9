// The program's console, as each platform has it: the command line's words in UTF-8, and
// standard error taking the status lines' UTF-8 as such.
#pragma once

#include <string>
#include <vector>

// Readies the console for UTF-8 text and returns the command line's words (the program's name
// first) in UTF-8.
std::vector<std::string> StartConsole(int argc, char** argv);

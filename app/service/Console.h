// The program's console, as each platform has it: the command line's words in UTF-8, standard
// error taking the status lines' UTF-8 as such, and the folder it runs in.
#pragma once

#include <string>
#include <vector>

// Readies the console for UTF-8 text and returns the command line's words (the program's name
// first) in UTF-8.
std::vector<std::string> StartConsole(int argc, char** argv);

// Splits a path (UTF-8) into its folder and its file name; the folder is "." for a bare name.
// Either separator of the platform counts.
void SplitPath(const std::string& strPath, std::string& strFolder, std::string& strName);
// Makes the folder (UTF-8) the current directory; false when it cannot be.
bool EnterFolder(const std::string& strFolder);
// Whether a regular file (or a link to one) is at the path.
bool IsFile(const std::string& strPath);

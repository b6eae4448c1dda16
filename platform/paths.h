// Where the program lives: the library's configuration file sits beside it.
#pragma once

#include <string>

namespace ipcam {

// Directory of the running executable (from /proc/self/exe), without a trailing slash;
// the current directory when it cannot be read.
std::string programDirectory();

}  // namespace ipcam

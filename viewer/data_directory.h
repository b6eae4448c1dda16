// Where the viewer keeps its files (site list, snapshots).
#pragma once

#include <string>

namespace kestrel {

// The data directory, in this order: the one set with setDataDirectory (the application's
// --data-dir), the environment variable KESTREL_HOME, the program's own directory when it is
// writable, else $XDG_CONFIG_HOME/kestrel (~/.config/kestrel without it), created when missing.
std::string dataDirectory();

// Overrides the choice for the rest of the process; an empty string clears the override.
void setDataDirectory(const std::string &directory);

// The choice itself, from explicit inputs: a null or empty value counts as unset.
struct DataDirectoryInputs {
    std::string chosen;                 // setDataDirectory
    const char *kestrelHome = nullptr;  // $KESTREL_HOME
    std::string programDirectory;
    bool programDirectoryWritable = false;
    const char *xdgConfigHome = nullptr;  // $XDG_CONFIG_HOME
    const char *home = nullptr;           // $HOME
};
std::string resolveDataDirectory(const DataDirectoryInputs &inputs);

// Creates directory and its missing parents; true when it exists afterwards.
bool makeDirectories(const std::string &directory);

}  // namespace kestrel

// A directory of a test's own under /tmp, removed with everything in it at the end.
#pragma once

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace kestrel_test {

// The names in dir, without "." and "..".
inline std::vector<std::string> filesIn(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        closedir(d);
    }
    return names;
}

// The whole content of a file; empty when it cannot be read.
inline std::string readFile(const std::string &path) {
    std::string data;
    if (FILE *f = fopen(path.c_str(), "rb")) {
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) data.append(buf, n);
        fclose(f);
    }
    return data;
}

struct TempDir {
    std::string path;  // empty when it could not be made
    TempDir() {
        char name[] = "/tmp/kestrel-test-XXXXXX";
        if (mkdtemp(name)) path = name;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    std::string file(const std::string &name) const { return path + "/" + name; }
    std::vector<std::string> entries() const { return filesIn(path); }
};

}  // namespace kestrel_test

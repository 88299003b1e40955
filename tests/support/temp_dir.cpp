#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace quenta_test {

namespace {

std::string baseFolder() {
    for (const char* name : {"QUENTA_DRIVE_ROOT", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') return value;
    }
    return "/tmp";
}

}  // namespace

TempDir::TempDir(const std::string& prefix) {
    std::string base = baseFolder();
    std::error_code ignored;
    std::filesystem::create_directories(base, ignored);
    std::string pattern = base + "/" + prefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed under " + base);
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Read-only entries inside do not stop removal on POSIX (the folder's mode decides).
    std::filesystem::remove_all(path_, ignored);
}

ScopedDriveRoot::ScopedDriveRoot() : dir_("drive-root-") {
    if (const char* old = std::getenv("QUENTA_DRIVE_ROOT")) {
        hadOld_ = true;
        old_ = old;
    }
    setenv("QUENTA_DRIVE_ROOT", dir_.path().c_str(), 1);
}

ScopedDriveRoot::~ScopedDriveRoot() {
    if (hadOld_)
        setenv("QUENTA_DRIVE_ROOT", old_.c_str(), 1);
    else
        unsetenv("QUENTA_DRIVE_ROOT");
}

std::string readWholeFile(const std::string& localPath) {
    std::ifstream in(localPath, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool writeWholeFile(const std::string& localPath, const std::string& content) {
    std::ofstream out(localPath, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(out);
}

}  // namespace quenta_test

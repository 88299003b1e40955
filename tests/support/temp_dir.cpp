#include "tests/support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "ss/ss_platform.h"

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

// Sets (or, for null, removes) an environment variable of the process.
static void setVariable(const char* name, const char* value) {
#ifdef _WIN32  // the Windows C runtime has no setenv/unsetenv; "" removes a variable there
    _putenv_s(name, value != nullptr ? value : "");
#else
    if (value != nullptr)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

TempDir::TempDir(const std::string& prefix) {
    std::string base = baseFolder();
    std::error_code ignored;
    std::filesystem::create_directories(base, ignored);
    // mkdtemp's way, portably: a random name, taken only when this call created the folder.
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x", random() & 0xFFFFFFu);
        const std::string candidate = base + "/" + prefix + suffix;
        if (std::filesystem::create_directory(candidate, ignored)) path_ = candidate;
    }
    if (path_.empty()) throw std::runtime_error("no temporary folder under " + base);
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
    setVariable("QUENTA_DRIVE_ROOT", dir_.path().c_str());
}

ScopedDriveRoot::~ScopedDriveRoot() {
    setVariable("QUENTA_DRIVE_ROOT", hadOld_ ? old_.c_str() : nullptr);
}

std::string readWholeFile(const std::string& localPath) {
    std::ifstream in(ss_platform_localFsPath(localPath), std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string readTextFile(const std::string& localPath) {
    std::string text = readWholeFile(localPath);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out.push_back(text[i]);
    return out;
}

bool writeWholeFile(const std::string& localPath, const std::string& content) {
    std::ofstream out(ss_platform_localFsPath(localPath), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(out);
}

}  // namespace quenta_test

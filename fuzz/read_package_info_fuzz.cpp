// Fuzz target: the package trailer reader on arbitrary file contents, and the file-name rules on
// the same bytes taken as a file name. The input is written to one temporary file per process.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "package/package_info.h"

namespace {

volatile size_t sink;  // keeps the optimiser from dropping the results

const std::string& tempPath() {
    static const std::string path = [] {
        // Memory-backed /dev/shm when there is one: truncating a file on a disk file system costs
        // milliseconds per run here, 30 times the parse itself.
        const char* folder = std::getenv("TMPDIR");
        std::string base = folder && *folder ? folder : "/tmp";
        if (access("/dev/shm", W_OK) == 0) base = "/dev/shm";
        std::string pattern = base + "/quenta-fuzz-XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0) std::abort();
        // Unlinked at once and reached through the kept descriptor: nothing is left behind however
        // the fuzzer ends.
        unlink(pattern.c_str());
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = tempPath();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);

    std::string modelList;
    int length = 0;
    bool verified = false;
    const int result = readPackageInfoLocal(path.c_str(), modelList, length, &verified);
    if (result == 0 && (length <= 0 || static_cast<size_t>(length) != modelList.size())) std::abort();
    if (result != 0 && (length != 0 || !modelList.empty() || verified)) std::abort();
    sink = modelList.size() + static_cast<size_t>(verified);

    const std::string name(reinterpret_cast<const char*>(data), size);
    const std::string fileName = packageFileNameFromPath(name);
    const auto version = packageVersionFromFileName(fileName.c_str());
    if (version && version->size() > static_cast<size_t>(kPackageVersionMaxBytes)) std::abort();
    const int kind = packageKindFromFileName(fileName.c_str());
    sink = sink + fileName.size() + (version ? version->size() : 0) +
           static_cast<size_t>(platformCodeFromFileName(fileName.c_str(), kind));
    return 0;
}

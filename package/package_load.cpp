// Load checks of a chosen package, in the order the window applies them (see package_load.h).
#include "package/package_load.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

#include "package/package_info.h"
#include "ss/ss_platform.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const {
        if (file) std::fclose(file);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Strict UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int extra = 0;
        uint32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (extra == 3 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

// The GBK form of a path handed over as the file system holds it: converted from UTF-8, or, for a
// name that is not UTF-8 but valid GBK (copied from a Windows archive), the bytes themselves.
std::optional<std::string> narrowFormOf(const std::string& path) {
    std::string narrow;
    if (isValidUtf8(path)) {
        if (ss_platform_utf8ToGbk(path, narrow) != 0) return std::nullopt;  // a character GBK lacks
        return narrow;
    }
    std::string check;
    if (ss_platform_gbkToUtf8(path, check) != 0) return std::nullopt;
    return path;
}

}  // namespace

bool packageExtensionIsQuenta(const std::string& utf8Path) {
    const size_t dot = utf8Path.rfind('.');
    return dot != std::string::npos && utf8Path.compare(dot + 1, std::string::npos, "quenta") == 0;
}

int packagePrecheck(const std::string& utf8Path, std::string& utf8Message) {
    // A folder opens for reading on this system but cannot be read, and opening a named pipe waits
    // for a writer: only an existing ordinary file is a readable package. Absent files fall through to
    // the open, which fails.
    std::error_code error;
    const std::filesystem::path localPath = ss_platform_localFsPath(utf8Path);
    const auto status = std::filesystem::status(localPath, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        utf8Message = kPackageUnreadableMessage;
        return -1;
    }
    FilePtr file(ss_platform_fopenLocal(utf8Path.c_str(), "rb"));
    if (!file) {
        utf8Message = kPackageUnreadableMessage;
        return -1;
    }
    const std::uintmax_t size = std::filesystem::file_size(localPath, error);
    if (error) {
        utf8Message = kPackageUnreadableMessage;
        return -1;
    }
    if (size < static_cast<std::uintmax_t>(kPackageMinimumSize)) {
        utf8Message = kPackageTooSmallMessage;
        return -1;
    }
    return 0;
}

int packageRead(const std::string& utf8Path, LoadedPackage& out, std::string& utf8Message) {
    const std::optional<std::string> narrowPath = narrowFormOf(utf8Path);
    if (!narrowPath || narrowPath->empty() ||
        narrowPath->size() > static_cast<size_t>(kPackageNarrowPathMax)) {
        utf8Message = kPackageUnreadableMessage;
        return -1;
    }
    std::string modelList;
    int length = 0;
    bool digestVerified = false;
    if (readPackageInfoLocal(utf8Path.c_str(), modelList, length, &digestVerified) != 0) {
        utf8Message = kPackageInvalidMessage;
        return -1;
    }
    std::string fileName = packageFileNameFromPath(*narrowPath);
    std::optional<std::string> version = packageVersionFromFileName(fileName.c_str());
    if (!version) {
        utf8Message = kPackageNoVersionMessage;
        return -1;
    }
    const int kind = packageKindFromFileName(fileName.c_str());
    out.narrowPath = *narrowPath;
    out.platformCode = platformCodeFromFileName(fileName.c_str(), kind);
    out.kind = kind;
    out.narrowFileName = std::move(fileName);
    out.modelList = std::move(modelList);
    out.version = std::move(*version);
    out.localPath = utf8Path;
    out.digestVerified = digestVerified;
    utf8Message.clear();
    return 0;
}

bool applyPackageKindRules(LoadedPackage& package) {
    if (package.kind != PACKAGE_KIND_MULTIMEDIA_FILE) return false;
    package.modelList = "ALL";
    return true;
}

std::string packageVersionLabel(const LoadedPackage& package) {
    std::string version;
    ss_platform_gbkToUtf8(package.version, version);  // lenient: a bad byte shows as U+FFFD
    return "该升级包版本为" + version + "，适合于以下产品";
}

// Package trailer reader and file-name rules (see package_info.h for the layout).
#include "package/package_info.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <vector>

#include "protocol/des_variant.h"
#include "protocol/md5.h"
#include "protocol/ss_pair.h"
#include "ss/ss_log.h"
#include "ss/ss_platform.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const {
        if (file) std::fclose(file);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// 64-bit seek: packages of several hundred MiB are common, and `long` is 32 bits on some systems.
bool seekTo(std::FILE* file, int64_t offset, int whence) {
#ifdef _WIN32  // the Microsoft runtime has no fseeko
    return _fseeki64(file, offset, whence) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), whence) == 0;
#endif
}

int64_t tellOffset(std::FILE* file) {
#ifdef _WIN32  // the Microsoft runtime has no ftello
    return _ftelli64(file);
#else
    return static_cast<int64_t>(ftello(file));
#endif
}

// Reads exactly `size` bytes at `offset`; false on a seek error or a short read.
bool readAt(std::FILE* file, int64_t offset, void* buffer, size_t size) {
    if (!seekTo(file, offset, SEEK_SET)) return false;
    return std::fread(buffer, 1, size, file) == size;
}

}  // namespace

int readPackageInfoFrom(const PackageFileOpener& open, std::string& modelList, int& length,
                        bool* digestVerified) {
    modelList.clear();
    length = 0;
    if (digestVerified) *digestVerified = false;

    if (!open) return -1;

    // Measure the size with one open, read with a second.
    int64_t size = -1;
    {
        FilePtr measure(open());
        if (!measure) return -1;
        if (!seekTo(measure.get(), 0, SEEK_END)) return -1;
        size = tellOffset(measure.get());
    }
    FilePtr file(open());
    if (!file || size < kPackageTrailerSize) return -1;

    char marker[kPackageMarkerSize];
    if (!readAt(file.get(), size - kPackageMarkerSize, marker, sizeof marker) ||
        std::memcmp(marker, kPackageMarker, kPackageMarkerSize) != 0) {
        SS_LOG(SS_LOG_ERROR, "No package marker at the end of the file\n");
        return -1;
    }

    uint8_t lengthBytes[4];
    if (!readAt(file.get(), size - kPackageTrailerSize, lengthBytes, sizeof lengthBytes)) return -1;
    const int32_t textLength = static_cast<int32_t>(
        static_cast<uint32_t>(lengthBytes[0]) | static_cast<uint32_t>(lengthBytes[1]) << 8 |
        static_cast<uint32_t>(lengthBytes[2]) << 16 | static_cast<uint32_t>(lengthBytes[3]) << 24);
    if (textLength <= 0 || textLength >= size - kPackageTrailerSize) {
        SS_LOG(SS_LOG_ERROR, "Invalid package information length %d\n", textLength);
        return -1;
    }

    std::string text;
    try {
        text.assign(static_cast<size_t>(textLength), '\0');
    } catch (const std::bad_alloc&) {
        SS_LOG(SS_LOG_ERROR, "Package information text too large: %d bytes\n", textLength);
        return -1;
    }
    if (!readAt(file.get(), size - kPackageTrailerSize - textLength, text.data(), text.size())) return -1;

    // No digest suffix: the whole text is the model list, nothing is hashed.
    if (textLength <= kPackageDigestSuffixSize ||
        text.compare(static_cast<size_t>(textLength - kPackageDigestSuffixSize), 5, ",MD5:") != 0) {
        modelList = std::move(text);
        length = textLength;
        return 0;
    }

    const int64_t payloadSize = size - textLength - kPackageTrailerSize;
    if (payloadSize <= kPackageHeadSize) return -1;

    std::vector<uint8_t> buffer(kPackageHashReadSize);
    if (!readAt(file.get(), 0, buffer.data(), kPackageHeadSize)) return -1;
    if (!(buffer[0] == 0x37 && buffer[1] == 0x7A)) desDecryptBuffer(kPackageHeadSize, buffer.data());
    Md5Context context;
    md5Init(context);
    md5Update(context, buffer.data(), kPackageHeadSize);

    // The rest of the payload, never reading into the trailer. A short read ends the hashing and
    // the comparison below fails.
    int64_t remaining = payloadSize - kPackageHeadSize;
    size_t chunk = kPackageHeadSize;
    while (remaining > 0) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(chunk)));
        const size_t got = std::fread(buffer.data(), 1, want, file.get());
        if (got == 0) break;
        md5Update(context, buffer.data(), got);
        remaining -= static_cast<int64_t>(got);
        chunk = kPackageHashReadSize;
    }
    Md5Digest digest;
    md5Final(context, digest);
    const std::string hex = md5ToHex(digest);
    if (remaining != 0 || text.compare(static_cast<size_t>(textLength - 32), 32, hex) != 0) {
        SS_LOG(SS_LOG_ERROR, "Package digest does not match the payload\n");
        return -1;
    }

    text.resize(static_cast<size_t>(textLength - kPackageDigestSuffixSize));
    length = textLength - kPackageDigestSuffixSize;
    modelList = std::move(text);
    if (digestVerified) *digestVerified = true;
    return 0;
}

namespace {

bool isGbkLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

// Offsets of the character starts of a GBK text (a lead byte and its trail byte form one character).
template <typename Visit>
void forEachCharacterStart(std::string_view text, Visit&& visit) {
    for (size_t i = 0; i < text.size();) {
        if (!visit(i)) return;
        i += (isGbkLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
    }
}

// Substring search at character boundaries only, so a match never starts on a trail byte.
bool containsGbk(std::string_view text, std::string_view needle) {
    if (needle.empty()) return true;
    bool found = false;
    forEachCharacterStart(text, [&](size_t i) {
        if (text.compare(i, needle.size(), needle) == 0) found = true;
        return !found;
    });
    return found;
}

std::string toGbk(const char* utf8) {
    std::string out;
    ss_platform_utf8ToGbk(utf8, out);  // the literals below are all in GBK
    return out;
}

struct KindWord {
    const char* utf8;
    int kind;
};
// Checked in this order; the first word that the file name contains decides.
constexpr KindWord kKindWords[] = {
    {"多媒体文件包", PACKAGE_KIND_MULTIMEDIA_FILE},
    {"多媒体控制盒", PACKAGE_KIND_MULTIMEDIA_CONTROL_BOX},
    {"Linux数字分机和5路10路主机", PACKAGE_KIND_LINUX_EXTENSION_MASTER},
    {"地址盒", PACKAGE_KIND_ADDRESS_BOX},
    {"管理服务器", PACKAGE_KIND_MANAGEMENT_SERVER},
};

}  // namespace

int readPackageInfo(const char* narrowPath, std::string& modelList, int& length) {
    modelList.clear();
    length = 0;
    if (!narrowPath) return -1;
    const int attributes = ss_platform_fileAttributes(narrowPath);
    if (attributes == -1 || (attributes & SS_PLATFORM_ATTRIBUTE_DIRECTORY)) return -1;
    // Opening a named pipe waits for a writer: only ordinary files are read.
    std::error_code error;
    if (!std::filesystem::is_regular_file(ss_platform_localFsPath(ss_platform_mapPath(narrowPath)), error))
        return -1;
    return readPackageInfoFrom([&] { return ss_platform_fopen(narrowPath, "rb"); }, modelList, length,
                               nullptr);
}

int readPackageInfoLocal(const char* localPath, std::string& modelList, int& length, bool* digestVerified) {
    modelList.clear();
    length = 0;
    if (digestVerified) *digestVerified = false;
    if (!localPath) return -1;
    std::error_code error;
    // Absent, a folder, or a named pipe or device (opening a pipe waits for a writer): refused.
    if (!std::filesystem::is_regular_file(ss_platform_localFsPath(localPath), error)) return -1;
    return readPackageInfoFrom([&] { return ss_platform_fopenLocal(localPath, "rb"); }, modelList, length,
                               digestVerified);
}

std::string packageFileMd5Hex(const std::string& narrowPath) {
    FilePtr file(ss_platform_fopen(narrowPath.c_str(), "rb"));
    if (!file) return std::string();
    Md5Context context;
    md5Init(context);
    std::vector<unsigned char> buffer(65536);
    size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0)
        md5Update(context, buffer.data(), got);
    Md5Digest digest;
    md5Final(context, digest);
    return md5ToHex(digest);
}

std::string packageFileNameFromPath(std::string_view narrowPath) {
    size_t start = 0;
    forEachCharacterStart(narrowPath, [&](size_t i) {
        if (narrowPath[i] == '\\' || narrowPath[i] == '/') start = i + 1;
        return true;
    });
    return std::string(narrowPath.substr(start));
}

std::optional<std::string> packageVersionFromFileName(const char* narrowFileName) {
    if (!narrowFileName) return std::nullopt;
    const std::string_view name(narrowFileName);
    const size_t dash = name.rfind('-');
    if (dash == std::string_view::npos || dash == 0) return std::nullopt;
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot < dash) return std::nullopt;
    const std::string text(name.substr(dash + 1, dot - dash - 1));
    if (text.size() > static_cast<size_t>(kPackageVersionMaxBytes)) return std::nullopt;
    const std::vector<std::string> fields = splitString(text.c_str(), "_");
    if (fields.size() == 4) return fields[0] + "_" + fields[2] + "_" + fields[3];
    return text;
}

int packageKindFromFileName(const char* narrowFileName) {
    if (!narrowFileName) return PACKAGE_KIND_GENERAL;
    static const std::vector<std::string> words = [] {
        std::vector<std::string> gbk;
        for (const KindWord& word : kKindWords) gbk.push_back(toGbk(word.utf8));
        return gbk;
    }();
    for (size_t i = 0; i < words.size(); ++i)
        if (containsGbk(narrowFileName, words[i])) return kKindWords[i].kind;
    return PACKAGE_KIND_GENERAL;
}

int platformCodeFromFileName(const char* narrowFileName, int kind) {
    if (!narrowFileName) return 0;
    const std::string_view name(narrowFileName);
    if (kind == PACKAGE_KIND_MULTIMEDIA_CONTROL_BOX) {
        if (name.starts_with("A20")) return 1;
        if (name.starts_with("S5P4418")) return 2;
    } else if (kind == PACKAGE_KIND_LINUX_EXTENSION_MASTER) {
        if (name.starts_with("3516D")) return 5;
        if (name.starts_with("3516E")) return 6;
    }
    return 0;
}

const char* packageKindKey(int kind) {
    switch (kind) {
        case PACKAGE_KIND_MULTIMEDIA_CONTROL_BOX:
            return "multimedia-control-box";
        case PACKAGE_KIND_MULTIMEDIA_FILE:
            return "multimedia-file-package";
        case PACKAGE_KIND_ADDRESS_BOX:
            return "address-box";
        case PACKAGE_KIND_MANAGEMENT_SERVER:
            return "management-server";
        case PACKAGE_KIND_LINUX_EXTENSION_MASTER:
            return "linux-extension-master";
        default:
            return "general";
    }
}

// POSIX implementation of the platform layer (Linux, glibc).
#include <fcntl.h>
#include <iconv.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "ss/ss_platform.h"

namespace {

// ---- text conversion ----

// glibc knows code page 936 as "CP936" (an alias of its GBK table, with 0x80 as the euro sign as on
// Windows).
constexpr const char* kGbk = "CP936";
constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// Converts `length` bytes with iconv without //IGNORE (whose -1/EILSEQ result even after consuming all
// input makes errors hard to tell apart). On an invalid or truncated sequence, or a character the
// target lacks, `replacement` is written and `skip` input bytes are dropped; the result is then -1.
int convert(const char* to, const char* from, const char* input, size_t length, std::string& out,
            std::string_view replacement, size_t skip) {
    out.clear();
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
    int result = 0;
    char* in = const_cast<char*>(input);
    size_t inLeft = length;
    char buffer[1024];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        if (rc != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // EILSEQ (bad or unmappable sequence) or EINVAL (sequence cut at the end of the input).
        result = -1;
        out.append(replacement);
        size_t drop = skip < inLeft ? skip : inLeft;
        in += drop;
        inLeft -= drop;
    }
    // Flush any shift state (none for these encodings, but harmless).
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    iconv_close(cd);
    return result;
}

std::string u16ToBytes(char16_t unit) {
    std::string bytes(2, '\0');
    std::memcpy(bytes.data(), &unit, 2);
    return bytes;
}

// ---- paths ----

bool isDrivePath(const char* path) {
    unsigned char letter = static_cast<unsigned char>(path[0]);
    return ((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) && path[1] == ':';
}

int makeFolders(const std::string& localPath) {
    // mkdir -p: every prefix at a "/", then the whole path.
    for (size_t i = 1; i <= localPath.size(); ++i) {
        if (i != localPath.size() && localPath[i] != '/') continue;
        std::string prefix = localPath.substr(0, i);
        if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return -1;
    }
    return 0;
}

}  // namespace

// ---- text ----

int ss_platform_gbkToUtf16(std::string_view gbk, std::u16string& out) {
    std::string bytes;
    int result = convert(kUtf16, kGbk, gbk.data(), gbk.size(), bytes, u16ToBytes(u'\uFFFD'), 1);
    out.assign(bytes.size() / 2, u'\0');
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return result;
}

int ss_platform_utf16ToGbk(std::u16string_view utf16, std::string& out) {
    return convert(kGbk, kUtf16, reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2, out, "?", 2);
}

int ss_platform_gbkToUtf8(std::string_view gbk, std::string& out) {
    return convert("UTF-8", kGbk, gbk.data(), gbk.size(), out, "\xEF\xBF\xBD", 1);
}

int ss_platform_utf8ToGbk(std::string_view utf8, std::string& out) {
    return convert(kGbk, "UTF-8", utf8.data(), utf8.size(), out, "?", 1);
}

// ---- paths and files ----

std::string ss_platform_driveRoot() {
    if (const char* root = std::getenv("QUENTA_DRIVE_ROOT"); root != nullptr && root[0] != '\0') return root;
    std::string data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] != '\0') {
        data = xdg;
    } else {
        const char* home = std::getenv("HOME");
        data = std::string(home != nullptr ? home : "") + "/.local/share";
    }
    return data + "/quenta-upgrade/drives";
}

std::string ss_platform_mapPath(const char* narrowPath) {
    if (narrowPath == nullptr) return {};
    size_t length = std::strlen(narrowPath);
    if (length == 0 || length >= static_cast<size_t>(SS_MAX_PATH)) return {};
    // Convert first: a GBK trail byte may be 0x5C, which is not a separator; in UTF-8 it is.
    std::string utf8;
    if (ss_platform_gbkToUtf8(std::string_view(narrowPath, length), utf8) != 0) return {};
    for (char& c : utf8)
        if (c == '\\') c = '/';
    if (!isDrivePath(utf8.c_str())) {
        // A file whose name on disk is not UTF-8 (e.g. GBK bytes unpacked from a Windows archive) is
        // reached through the path's own bytes when the converted name does not exist.
        std::string raw(narrowPath, length);
        if (raw != utf8 && access(utf8.c_str(), F_OK) != 0 && access(raw.c_str(), F_OK) == 0) return raw;
        return utf8;
    }
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(utf8[0])));
    std::string drive = ss_platform_driveRoot() + "/" + letter;
    makeFolders(drive);  // a drive always exists; failures show up in the operation that follows
    std::string rest = utf8.substr(2);
    if (rest.empty()) return drive;
    if (rest[0] != '/') rest.insert(0, "/");
    return drive + rest;
}

FILE* ss_platform_fopen(const char* narrowPath, const char* mode) {
    std::string local = ss_platform_mapPath(narrowPath);
    if (local.empty() || mode == nullptr) return nullptr;
    return std::fopen(local.c_str(), mode);
}

FILE* ss_platform_fopenLocal(const char* localPath, const char* mode) {
    if (localPath == nullptr || mode == nullptr) return nullptr;
    return std::fopen(localPath, mode);
}

int ss_platform_fileAttributes(const char* narrowPath) {
    std::string local = ss_platform_mapPath(narrowPath);
    struct stat info;
    if (local.empty() || stat(local.c_str(), &info) != 0) return -1;
    if (S_ISDIR(info.st_mode)) return SS_PLATFORM_ATTRIBUTE_DIRECTORY;
    // Read-only is the owner's missing write permission (the attribute's meaning on Windows).
    if ((info.st_mode & S_IWUSR) == 0) return SS_PLATFORM_ATTRIBUTE_READONLY;
    return SS_PLATFORM_ATTRIBUTE_NORMAL;
}

bool ss_platform_sameFile(std::string_view utf8PathA, std::string_view utf8PathB) {
    struct stat a {};
    struct stat b {};
    if (::stat(std::string(utf8PathA).c_str(), &a) != 0 || ::stat(std::string(utf8PathB).c_str(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int ss_platform_mkdir(const char* narrowPath) {
    std::string local = ss_platform_mapPath(narrowPath);
    if (local.empty()) return -1;
    return mkdir(local.c_str(), 0777) == 0 ? 0 : -1;
}

int ss_platform_rename(const char* oldNarrowPath, const char* newNarrowPath) {
    std::string from = ss_platform_mapPath(oldNarrowPath);
    std::string to = ss_platform_mapPath(newNarrowPath);
    if (from.empty() || to.empty()) return -1;
    // Like MoveFileW: never replace an existing target.
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // A file system without RENAME_NOREPLACE: check, then rename (a race here only replaces a name
    // created in between, which this program never does).
    struct stat info;
    if (lstat(to.c_str(), &info) == 0) return -1;
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : -1;
}

int ss_platform_unlink(const char* narrowPath) {
    std::string local = ss_platform_mapPath(narrowPath);
    if (local.empty()) return -1;
    return unlink(local.c_str()) == 0 ? 0 : -1;
}

int ss_platform_setReadOnly(const char* narrowPath, bool readOnly) {
    std::string local = ss_platform_mapPath(narrowPath);
    struct stat info;
    if (local.empty() || stat(local.c_str(), &info) != 0) return -1;
    mode_t mode = info.st_mode & 07777;
    mode = readOnly ? (mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    return chmod(local.c_str(), mode) == 0 ? 0 : -1;
}

// ---- time ----

int64_t ss_platform_nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t ss_platform_monotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void ss_platform_sleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string ss_platform_localTimeText() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, length);
}

std::string ss_platform_hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

double ss_platform_strtodC(const char* text, char** end) {
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    return strtod_l(text, end, cLocale);
}

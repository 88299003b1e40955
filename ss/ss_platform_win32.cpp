// Windows implementation of the platform layer (ss_platform.h), for MinGW-w64 and Windows 7 on.
//
// Narrow paths are GBK: they are converted with MultiByteToWideChar and code page 936 named
// explicitly (not CP_ACP), so the program's file names stay GBK on a PC whose ANSI code page is
// another, and go to the wide functions (GetFileAttributesW, CreateDirectoryW, MoveFileW,
// DeleteFileW, _wfopen). Drive paths such as "C:\\Work/quenta/temp" are the real ones; only when
// QUENTA_DRIVE_ROOT is set (every test sets it) is a drive path mapped under that folder as on Linux,
// so that tests never write to the real drive.
#include <windows.h>

#include <locale.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>

#include "ss/ss_platform.h"

namespace {

constexpr UINT kGbk = 936;

// ---- text conversion ----

// One GBK character at `text`: its byte count (1 or 2) as code page 936 reads it, or 0 when the
// bytes there are no character (a lone or cut lead byte, 0xFF).
int gbkCharLength(std::string_view text, size_t at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return 1;
    if (lead == 0x80) return 1;  // the euro sign in code page 936
    if (lead == 0xFF || at + 1 >= text.size()) return 0;
    const unsigned char trail = static_cast<unsigned char>(text[at + 1]);
    if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return 0;
    return 2;
}

// Strict conversion of `bytes` with code page `codePage`; false when the input has a byte sequence
// that is no character.
bool toWideStrict(UINT codePage, std::string_view bytes, std::u16string& out) {
    out.clear();
    if (bytes.empty()) return true;
    const int length = static_cast<int>(bytes.size());
    const int needed = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
    if (needed <= 0) return false;
    out.resize(static_cast<size_t>(needed));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length,
                               reinterpret_cast<wchar_t*>(out.data()), needed) == needed;
}

// UTF-16 to a code page; `lossy` tells whether a character had to be replaced by "?" (code page 936:
// a character GBK lacks or a lone surrogate).
std::string fromWide(UINT codePage, std::u16string_view wide, bool& lossy) {
    lossy = false;
    if (wide.empty()) return {};
    const auto* units = reinterpret_cast<const wchar_t*>(wide.data());
    const int length = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = codePage == CP_UTF8 ? nullptr : &usedDefault;  // not allowed for UTF-8
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int needed = WideCharToMultiByte(codePage, flags, units, length, nullptr, 0, "?", usedDefaultOut);
    if (needed <= 0) {
        lossy = true;
        return {};
    }
    std::string out(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(codePage, flags, units, length, out.data(), needed, "?", usedDefaultOut);
    lossy = usedDefault != FALSE;
    return out;
}

// ---- paths ----

bool isDrivePath(const char* path) {
    const unsigned char letter = static_cast<unsigned char>(path[0]);
    return ((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) && path[1] == ':';
}

std::wstring wideOfUtf8(const std::string& utf8) {
    std::u16string wide;
    if (!toWideStrict(CP_UTF8, utf8, wide)) return {};
    return std::wstring(wide.begin(), wide.end());
}

// The test drive root (QUENTA_DRIVE_ROOT, UTF-16), or empty for the real drives.
std::wstring testDriveRoot() {
    // The process environment itself (SetEnvironmentVariable, which _putenv also updates), not a
    // copy of the C runtime.
    wchar_t root[SS_MAX_PATH * 2];
    const DWORD length = GetEnvironmentVariableW(L"QUENTA_DRIVE_ROOT", root, SS_MAX_PATH * 2);
    if (length == 0 || length >= static_cast<DWORD>(SS_MAX_PATH * 2)) return {};
    return std::wstring(root, length);
}

// CreateDirectoryW on every prefix of `path` at a separator, then on the whole path.
void makeFolders(const std::wstring& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i != path.size() && path[i] != L'\\' && path[i] != L'/') continue;
        const std::wstring prefix = path.substr(0, i);
        if (prefix.size() == 2 && prefix[1] == L':') continue;  // a drive exists
        CreateDirectoryW(prefix.c_str(), nullptr);
    }
}

// The UTF-16 path a narrow (GBK) path names; empty for a null, too long or non-GBK path.
std::wstring widePath(const char* narrowPath) {
    if (narrowPath == nullptr) return {};
    const size_t length = std::strlen(narrowPath);
    if (length == 0 || length >= static_cast<size_t>(SS_MAX_PATH)) return {};
    std::u16string converted;
    if (!toWideStrict(kGbk, std::string_view(narrowPath, length), converted)) return {};
    std::wstring wide(converted.begin(), converted.end());
    const std::wstring root = testDriveRoot();
    if (root.empty() || !isDrivePath(narrowPath)) return wide;
    const wchar_t letter = static_cast<wchar_t>(std::toupper(static_cast<unsigned char>(narrowPath[0])));
    const std::wstring drive = root + L"/" + letter;
    makeFolders(drive);  // failures show up in the operation that follows
    // Under the test root the mapped path reads as on Linux: root/X/rest, with "/" separators.
    std::wstring rest = wide.substr(2);
    for (wchar_t& c : rest)
        if (c == L'\\') c = L'/';
    if (rest.empty()) return drive;
    if (rest[0] != L'/') rest.insert(0, L"/");
    return drive + rest;
}

std::string utf8OfWide(const std::wstring& wide) {
    bool lossy = false;
    return fromWide(CP_UTF8, std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()),
                    lossy);
}

}  // namespace

// ---- text ----

int ss_platform_gbkToUtf16(std::string_view gbk, std::u16string& out) {
    if (toWideStrict(kGbk, gbk, out)) return 0;
    // Lenient pass: character by character, U+FFFD for each byte that starts no character.
    out.clear();
    for (size_t i = 0; i < gbk.size();) {
        const int count = gbkCharLength(gbk, i);
        std::u16string one;
        if (count == 0 || !toWideStrict(kGbk, gbk.substr(i, static_cast<size_t>(count)), one)) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        out += one;
        i += static_cast<size_t>(count);
    }
    return -1;
}

int ss_platform_utf16ToGbk(std::u16string_view utf16, std::string& out) {
    bool lossy = false;
    out = fromWide(kGbk, utf16, lossy);
    return lossy ? -1 : 0;
}

int ss_platform_gbkToUtf8(std::string_view gbk, std::string& out) {
    std::u16string wide;
    const int result = ss_platform_gbkToUtf16(gbk, wide);
    bool lossy = false;
    out = fromWide(CP_UTF8, wide, lossy);
    return result;
}

int ss_platform_utf8ToGbk(std::string_view utf8, std::string& out) {
    std::u16string wide;
    int result = 0;
    if (!toWideStrict(CP_UTF8, utf8, wide)) {
        // Lenient: bad sequences become U+FFFD, which GBK lacks, so they come out as "?".
        result = -1;
        const int length = static_cast<int>(utf8.size());
        const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
        wide.assign(static_cast<size_t>(needed > 0 ? needed : 0), u'\0');
        if (needed > 0)
            MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, reinterpret_cast<wchar_t*>(wide.data()),
                                needed);
    }
    bool lossy = false;
    out = fromWide(kGbk, wide, lossy);
    return lossy ? -1 : result;
}

// ---- paths and files ----

std::string ss_platform_driveRoot() {
    return utf8OfWide(testDriveRoot());
}

std::string ss_platform_mapPath(const char* narrowPath) {
    return utf8OfWide(widePath(narrowPath));
}

FILE* ss_platform_fopen(const char* narrowPath, const char* mode) {
    const std::wstring path = widePath(narrowPath);
    if (path.empty() || mode == nullptr) return nullptr;
    const std::wstring wideMode(mode, mode + std::strlen(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
}

FILE* ss_platform_fopenLocal(const char* localPath, const char* mode) {
    if (localPath == nullptr || mode == nullptr) return nullptr;
    const std::wstring path = wideOfUtf8(localPath);
    if (path.empty()) return nullptr;
    const std::wstring wideMode(mode, mode + std::strlen(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
}

int ss_platform_fileAttributes(const char* narrowPath) {
    const std::wstring path = widePath(narrowPath);
    if (path.empty()) return -1;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return SS_PLATFORM_ATTRIBUTE_DIRECTORY;
    if (attributes & FILE_ATTRIBUTE_READONLY) return SS_PLATFORM_ATTRIBUTE_READONLY;
    return SS_PLATFORM_ATTRIBUTE_NORMAL;
}

namespace {

// The volume and file ID of an existing file or folder; false when it cannot be opened.
bool fileIdentity(std::string_view utf8Path, BY_HANDLE_FILE_INFORMATION& info) {
    const std::wstring wide = wideOfUtf8(std::string(utf8Path));
    if (wide.empty()) return false;
    // No access rights asked: only the file's attributes are read, whatever sharing others hold.
    HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL read = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return read != FALSE;
}

}  // namespace

bool ss_platform_sameFile(std::string_view utf8PathA, std::string_view utf8PathB) {
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    if (!fileIdentity(utf8PathA, a) || !fileIdentity(utf8PathB, b)) return false;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

int ss_platform_mkdir(const char* narrowPath) {
    const std::wstring path = widePath(narrowPath);
    if (path.empty()) return -1;
    return CreateDirectoryW(path.c_str(), nullptr) ? 0 : -1;
}

int ss_platform_rename(const char* oldNarrowPath, const char* newNarrowPath) {
    const std::wstring from = widePath(oldNarrowPath);
    const std::wstring to = widePath(newNarrowPath);
    if (from.empty() || to.empty()) return -1;
    return MoveFileW(from.c_str(), to.c_str()) ? 0 : -1;  // fails when `to` exists
}

int ss_platform_unlink(const char* narrowPath) {
    const std::wstring path = widePath(narrowPath);
    if (path.empty()) return -1;
    return DeleteFileW(path.c_str()) ? 0 : -1;
}

int ss_platform_setReadOnly(const char* narrowPath, bool readOnly) {
    const std::wstring path = widePath(narrowPath);
    if (path.empty()) return -1;
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
    attributes = readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~FILE_ATTRIBUTE_READONLY);
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileAttributesW(path.c_str(), attributes) ? 0 : -1;
}

// ---- time ----

int64_t ss_platform_nowMs() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr uint64_t kEpochDifference = 116444736000000000ULL;  // 1601-01-01 to 1970-01-01 in 100 ns
    return static_cast<int64_t>((ticks - kEpochDifference) / 10000);
}

int64_t ss_platform_monotonicMs() {
    return static_cast<int64_t>(GetTickCount64());
}

void ss_platform_sleepMs(int ms) {
    if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

std::string ss_platform_localTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_s(&local, &now);
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, length);
}

std::string ss_platform_hostName() {
    // The wide name: gethostname would give it in the ANSI code page (and needs Winsock started).
    wchar_t name[256] = {};
    DWORD length = static_cast<DWORD>(std::size(name));
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &length)) return {};
    return utf8OfWide(std::wstring(name, length));
}

double ss_platform_strtodC(const char* text, char** end) {
    static const _locale_t cLocale = _create_locale(LC_NUMERIC, "C");
    return _strtod_l(text, end, cLocale);
}

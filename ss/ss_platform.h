// The platform layer: everything the runtime library needs from the operating system that differs
// between systems — path mapping, file operations, text conversion between code page 936 and
// Unicode, clocks and sleeping. ss_platform_posix.cpp implements it for Linux, ss_platform_win32.cpp
// for Windows; CMake compiles the one of the target system. Callers never use #ifdef.
//
// Narrow paths are GBK texts as the program builds them, including fixed Windows drive paths such as
// "C:\\Work/quenta/temp". On Windows (ss_platform_win32.cpp) they are the real paths, converted with
// code page 936 for the wide file functions; drive paths go under $QUENTA_DRIVE_ROOT only when it is
// set (tests). On Linux a drive path "X:\..." or "X:/..." is mapped to
// $QUENTA_DRIVE_ROOT/X/... (default ${XDG_DATA_HOME:-$HOME/.local/share}/quenta-upgrade/drives);
// "\" and "/" both separate; every other path keeps its place. Narrow paths of SS_MAX_PATH (260) bytes
// or more are refused by every operation here, never cut.
//
// The socket shims of this layer are declared in ss/ss_platform_net.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

constexpr int SS_MAX_PATH = 260;  // narrow paths of 260 bytes or more are refused

// Maps a narrow (GBK) path to the local UTF-8 path. A drive path's drive folder is created when it
// does not exist yet (a drive always exists). Returns "" for a null, too long or non-GBK path.
std::string ss_platform_mapPath(const char* narrowPath);

// The drive root folder in use (UTF-8), from QUENTA_DRIVE_ROOT or the default above.
std::string ss_platform_driveRoot();

// fopen on the mapped path; null when the path is refused or the file cannot be opened.
FILE* ss_platform_fopen(const char* narrowPath, const char* mode);
// fopen on a local path as the file system names it (UTF-8, e.g. a file named on the command line):
// std::fopen here, _wfopen of its UTF-16 form on Windows. Null when it cannot be opened.
FILE* ss_platform_fopenLocal(const char* localPath, const char* mode);

// File operations on narrow paths. Results 0 success / -1 failure unless said otherwise.
// Attributes: -1 absent (or refused path); otherwise the bits below.
enum {
    SS_PLATFORM_ATTRIBUTE_READONLY = 0x01,
    SS_PLATFORM_ATTRIBUTE_DIRECTORY = 0x10,
    SS_PLATFORM_ATTRIBUTE_NORMAL = 0x80,  // a file that is neither read-only nor a folder
};
// The std::filesystem path of a local path in UTF-8 (as the command line and the window give it):
// built from UTF-8 on every system, where a plain std::string could be read in the ANSI code page.
inline std::filesystem::path ss_platform_localFsPath(std::string_view utf8Path) {
    return std::filesystem::path(std::u8string(utf8Path.begin(), utf8Path.end()));
}

int ss_platform_fileAttributes(const char* narrowPath);
// Whether two local paths (UTF-8) name the same existing file however they are spelt ("dir/../dir",
// "//", links): the device and inode on Linux, the volume and file ID on Windows. False when either
// cannot be examined (absent, no access).
bool ss_platform_sameFile(std::string_view utf8PathA, std::string_view utf8PathB);
int ss_platform_mkdir(const char* narrowPath);                                 // fails when it exists
int ss_platform_rename(const char* oldNarrowPath, const char* newNarrowPath);  // fails when new exists
int ss_platform_unlink(const char* narrowPath);                                // files only
int ss_platform_setReadOnly(const char* narrowPath, bool readOnly);            // owner write permission

// Clocks and sleeping.
int64_t ss_platform_nowMs();        // milliseconds since 1970-01-01 UTC
int64_t ss_platform_monotonicMs();  // milliseconds of a clock that never goes back
void ss_platform_sleepMs(int ms);
// Local time "%Y-%m-%d %H:%M:%S" (19 characters) of now.
std::string ss_platform_localTimeText();

// Text conversion, code page 936 (GBK) <-> Unicode. Strict: 0 when the whole input converted, -1 on
// bad input (an invalid or truncated sequence, a character GBK lacks); `out` then holds the lenient
// result (bad input replaced by "?" in GBK, U+FFFD in UTF-8 and UTF-16).
int ss_platform_gbkToUtf16(std::string_view gbk, std::u16string& out);
int ss_platform_utf16ToGbk(std::u16string_view utf16, std::string& out);
int ss_platform_gbkToUtf8(std::string_view gbk, std::string& out);
int ss_platform_utf8ToGbk(std::string_view utf8, std::string& out);

// This computer's host name (UTF-8), as a report names the machine it was made on; "" when the
// system does not tell.
std::string ss_platform_hostName();

// strtod in the "C" locale, whatever the process locale (whose decimal point may be ',').
double ss_platform_strtodC(const char* text, char** end);

// The upgrade package file (.quenta): its trailer reader and the facts taken from its file name.
//
// Layout (S = file size, L = length of the package information text, little-endian numbers):
//   [0, S-L-20)  payload (the firmware; its first 1024 bytes are stored enciphered unless they
//                start with the 7z signature bytes 0x37 0x7A)
//   [S-L-20, S-20)  package information text, GBK: a model list ("ALL" or "A,B,C"), optionally
//                followed by ",MD5:" and 32 lowercase hex digits of the payload's plain form
//   [S-20, S-16)  L, signed 32-bit
//   [S-16, S)     the marker ">QUENTA_UPGRADE<"
// The file name gives the package version, the package kind and the platform code.
// Nothing here keeps state or takes a lock; every function may run on any thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

enum PackageKind {
    PACKAGE_KIND_GENERAL = 0,
    PACKAGE_KIND_MULTIMEDIA_CONTROL_BOX = 1,
    PACKAGE_KIND_MULTIMEDIA_FILE = 2,
    PACKAGE_KIND_ADDRESS_BOX = 3,
    PACKAGE_KIND_MANAGEMENT_SERVER = 4,
    PACKAGE_KIND_LINUX_EXTENSION_MASTER = 5,
};

inline constexpr char kPackageMarker[] = ">QUENTA_UPGRADE<";  // 16 bytes, no terminator in the file
inline constexpr int kPackageMarkerSize = 16;
inline constexpr int kPackageTrailerSize = 20;       // L and the marker
inline constexpr int kPackageDigestSuffixSize = 37;  // ",MD5:" + 32 hex digits
inline constexpr int kPackageHeadSize = 1024;        // enciphered head of the payload
inline constexpr int kPackageHashReadSize = 16 * 1024;
inline constexpr int kPackageVersionMaxBytes = 63;  // longer versions are refused, never cut

// Reads the trailer of the package at a narrow (GBK) path, opened through the platform layer.
// 0: modelList holds the model list (without a verified digest suffix) and length its size in bytes.
// -1 on any failure (absent file, folder, bad marker or length, digest mismatch, short read): the
// model list is empty and length 0. The reason is not reported.
int readPackageInfo(const char* narrowPath, std::string& modelList, int& length);

// The same reader on a path as the local file system holds it (bytes passed to fopen unchanged), for
// callers whose path did not come through GBK (command-line arguments). digestVerified, when given,
// says whether a digest suffix was present and matched (false on failure or without a suffix).
int readPackageInfoLocal(const char* localPath, std::string& modelList, int& length,
                         bool* digestVerified = nullptr);

// The reader behind both entry points, on the files that `open` returns (called twice: once to
// measure the size, once to read; the reader closes them). For tests with failing or shrinking files.
using PackageFileOpener = std::function<std::FILE*()>;
int readPackageInfoFrom(const PackageFileOpener& open, std::string& modelList, int& length,
                        bool* digestVerified = nullptr);

// MD5 of the whole file at a narrow (GBK) path, as stored (trailer included), in 32 lowercase hex
// digits, read in 64 KiB blocks; a read error ends the digest early. Empty when the file cannot be
// opened. The run report names the package by it.
std::string packageFileMd5Hex(const std::string& narrowPath);

// The file name of a narrow path: the part after the last "\" or "/" (both separate on this platform).
// Scans GBK characters, so a trail byte 0x5C inside a double-byte character is not taken for "\".
std::string packageFileNameFromPath(std::string_view narrowPath);

// The package version from a narrow file name: the text between the last "-" (at a position > 0)
// and the last "." after it; four "_"-separated fields a_b_c_d give "a_c_d". Absent when there is no
// such "-" and "." or when the text is longer than kPackageVersionMaxBytes. May be empty.
std::optional<std::string> packageVersionFromFileName(const char* narrowFileName);

// The package kind (PackageKind) from a narrow file name: the first of "多媒体文件包", "多媒体控制盒",
// "Linux数字分机和5路10路主机", "地址盒", "管理服务器" that the name contains; general otherwise.
int packageKindFromFileName(const char* narrowFileName);

// The platform code from the start of a narrow file name, only for two kinds: multimedia control
// box "A20" 1, "S5P4418" 2; Linux extension master "3516D" 5, "3516E" 6; 0 otherwise.
int platformCodeFromFileName(const char* narrowFileName, int kind);

// English key of a kind for machine-readable output: general, multimedia-control-box,
// multimedia-file-package, linux-extension-master, address-box, management-server.
const char* packageKindKey(int kind);

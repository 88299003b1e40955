// Builds .quenta upgrade packages for the tests, the simulated site and the demo: payload, model
// list, optional digest, head enciphered as a sender does (or a plain 7z head), and deliberately
// broken variants. A generated payload may start with a version text that the simulated device
// reads back after an upload (simPackageVersion), so it can report the new software version.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The 7z archive signature; a payload that starts with 0x37 0x7A is stored and hashed as is.
inline constexpr char kSevenZipSignature[] = "7z\xBC\xAF\x27\x1C";  // 6 bytes
inline constexpr int kSevenZipSignatureSize = 6;
// Start of the version text of a generated payload: "QUENTA-SIM-VERSION:" + version + "\n".
inline constexpr char kSimVersionPrefix[] = "QUENTA-SIM-VERSION:";

enum class PackageHead {
    Enciphered,  // the first 1024 payload bytes are stored enciphered with desEncrypt
    SevenZip,    // the plain payload starts with kSevenZipSignature and is stored as is
};

enum class PackageFault {
    None,
    BadMarker,        // one byte of the marker changed
    LowercaseMarker,  // ">quenta_upgrade<"
    ZeroLength,       // L = 0
    NegativeLength,   // L = -1
    LengthTooLarge,   // L = S - 20
    WrongDigest,      // digest of other bytes (still lowercase)
    UppercaseDigest,  // the right digest written in uppercase hex
};

struct PackageSpec {
    std::string modelList = "ALL";       // GBK
    std::optional<std::string> payload;  // the plain payload; generated when absent
    int64_t payloadSize = 4096;          // size of a generated payload
    std::string version;                 // GBK; when not empty, a generated payload starts with it
    uint32_t seed = 1;                   // pseudo-random content of a generated payload
    bool withDigest = true;
    PackageHead head = PackageHead::Enciphered;
    PackageFault fault = PackageFault::None;
};

// The plain payload that `spec` describes (the given one, or the generated one).
std::string packagePlainPayload(const PackageSpec& spec);

// The whole file's bytes. Returns an empty string only for impossible specs (none today).
std::string makePackageBytes(const PackageSpec& spec);

// Writes the package to a local file-system path (the bytes of `localPath` passed to fopen).
// 0 or -1 (cannot write).
int makePackageFile(const std::string& localPath, const PackageSpec& spec);

// Streams a large generated package (payload of spec.payloadSize bytes, given payload ignored) to a
// local path without holding it in memory: for packages of hundreds of MiB. 0 or -1.
int makeLargePackageFile(const std::string& localPath, const PackageSpec& spec);

// The plain form of a stored payload start: deciphers the first 1024 bytes unless they start with
// 0x37 0x7A (what a receiving device does).
std::string packagePlainHead(std::string_view storedStart);

// The version text that a generated payload carries, read from the start of a stored package file
// (head enciphered or 7z); absent when the payload has none.
std::optional<std::string> simPackageVersion(std::string_view storedStart);

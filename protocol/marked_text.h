// Auth token and marked texts of the device protocol.
// A device or the address box may answer with its whole text encoded behind a 12-character marker:
// the XOR form (payload bytes XOR 0x49) or the DES form (the DES variant, zero-filled to whole
// blocks). decodeMarkedText recognises and decodes both; encodeMarkedText is the sender's side, for
// the simulated site and the tests. The auth token is the "Auth" value of a GetModelIPList request.
// Nothing here logs; failure is only an absent result. All calls are self-contained and thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char kAuthSalt1[] = "k3x9q2m7v4t8w1";
inline constexpr char kAuthSalt2[] = "7c31d05";
inline constexpr char kAuthActionName[] = "GetModelIPList";
inline constexpr char kDesMarker[] = "a7d3c9e0f215";  // also the prefix of every auth token
inline constexpr char kXorMarker[] = "a7d3c9e0f216";
inline constexpr int kMarkerLength = 12;
inline constexpr uint8_t kXorConstant = 0x49;
inline constexpr int kAuthTokenLength = 44;

// Decode kinds written by decodeMarkedText.
enum { MARKED_TEXT_NONE = 0, MARKED_TEXT_DES = 1, MARKED_TEXT_XOR = 2 };

// Longest DES-form payload (decoded bytes) whose 16-bit rounded length does not wrap; longer payloads
// are refused (no result).
inline constexpr size_t kMaxDesPayload = 65528;

// DES marker + 32 lowercase hex digits of MD5(salt 1 | salt 2 | "GetModelIPList" | account);
// absent for an invalid account (null, empty, "(null)", "NULL").
std::optional<std::string> makeAuthToken(const char* account);

// Decodes a marked text; absent for a plain text, an invalid text, an empty XOR payload or a refused
// DES payload. `kind` is always written: 0 plain, 1 DES form, 2 XOR form.
std::optional<std::string> decodeMarkedText(const char* text, int& kind);

// Hex pairs to bytes: CR/LF at the end are dropped, a final odd character is ignored, '0'-'9' and
// 'a'-'f' have their values and every other character x counts as x - 'A' + 10 (kept to 8 bits per
// byte). Null or empty text gives no bytes.
std::vector<uint8_t> hexToBytes(const char* text);

// The sender's side: `plain` encoded as MARKED_TEXT_XOR or MARKED_TEXT_DES (lowercase hex, no
// trailing CR LF). Any other kind returns the plain text unchanged.
std::string encodeMarkedText(std::string_view plain, int kind);

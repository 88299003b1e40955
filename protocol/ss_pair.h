// Message format of the device protocol and the pair list parsed from one message.
// A message is lines of "Key: Value" ended by CR LF, closed by one empty line; a received message
// becomes an ordered list of unique key/value pairs (first position kept, last value wins, a key
// without value removes the key). Also the small text helpers the parser uses, and _requestAction,
// which sends one action-only request and waits for its answer on a UDP socket.
// Nothing here logs; every operation uses only its arguments and may run on any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ss/ss_log.h"  // SS_PRINTF_FORMAT

struct SS_Socket;

struct SS_Pair {
    std::string key;
    std::string value;
};
using SS_PairList = std::vector<SS_Pair>;

// Parses `text` and merges its lines into `list`; null or empty text leaves the list unchanged. 0.
int stringToPairList(const char* text, SS_PairList& list);

// `out` is cleared, then set to the value of `key` unless the list or key is null, the key is missing
// or the value is invalid (empty, "(null)", "NULL"). 0.
int pairListGetString(const SS_PairList* list, const char* key, std::optional<std::string>& out);
// The value read as a decimal integer (sign and digits, stops at the first other character, 0 if none,
// saturated to the int range); -1 when pairListGetString gives nothing. 0.
int pairListGetInt(const char* key, int& out, const SS_PairList* list);
// 1 when the first non-blank character is Y, y, T, t or 1; otherwise 0 (also for null).
int pairListGetBool(const char* text);
// out = pairListGetBool of "TcpSupport", 0 when missing. 0.
int getTcpSupport(int& out, const SS_PairList* list);
// -1 for a null key; a null value removes the key; an existing key gets the new value in place;
// otherwise the pair is appended. An empty key adds nothing. 0.
int pairListSet(const char* key, SS_PairList& list, const char* value);
// -1 for a null key; removes every pair with that key. 0.
int pairListRemove(SS_PairList& list, const char* key);

// 1 unless the text is null, empty, exactly "(null)" or exactly "NULL".
int isValidText(const char* text);

// Blank characters: bytes 9 to 13 and the space.
bool isBlankChar(char c);
// Removes leading and trailing blanks in place.
void trimString(std::string& text);
// At most n bytes of text, stopping at a zero byte; absent for null text or n <= 0.
std::optional<std::string> dupStringN(const char* text, int n);
// On one line: key = trimmed text before the first ':' (the whole trimmed line without ':'), value =
// trimmed text after it; empty parts are absent.
void splitKeyValue(std::string_view line, std::optional<std::string>& key, std::optional<std::string>& value);
// Cuts text at every character of `delimiters`; consecutive delimiters give no empty entries.
std::vector<std::string> splitString(const char* text, const char* delimiters);

// printf-style formatting into a new text (empty for a null format).
std::string formatString(const char* format, ...) __attribute__((format(SS_PRINTF_FORMAT, 1, 2)));
// Appends the formatted text (the format copied as is when it holds no '%').
void appendFormat(std::string& text, const char* format, ...) __attribute__((format(SS_PRINTF_FORMAT, 2, 3)));

// Sends "Action: <request>\r\n\r\n" (with its zero byte) from `socket`'s own descriptor to
// `destination`'s address and waits on `socket` for a text that begins with "Action: <answer>":
// 2 rounds of (send, 200 ms, up to 2 receives of 200 ms each, 200 ms sleep after an empty receive).
// Marked answers are decoded first. 0 and the answer in `answerText`, or -1 (about 2 s) when none came.
int _requestAction(SS_Socket* socket, const SS_Socket* destination, const char* request, const char* answer,
                   std::string& answerText);

// Folders, files and paths on narrow (GBK) paths, temporary names, IPv4 text helpers and the text
// conversions between code page 936 and Unicode. "\\" and "/" are both path separators. Paths are
// mapped by the platform layer; paths of SS_MAX_PATH (260) bytes or more are refused, never cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ss/ss_platform.h"

enum {
    SS_FILE_ATTRIBUTE_READONLY = 0x01,
    SS_FILE_ATTRIBUTE_DIRECTORY = 0x10,
    SS_FILE_ATTRIBUTE_NORMAL = 0x80,
};

// The attribute word: -1 when absent, refused or null; bit 0x10 a folder, bit 0x01 a read-only file.
int ss_file_attributes(const char* path);

// Creates one folder. 1 when the folder exists afterwards, 0 on failure; a file in its place is
// logged as "Error [%s] is a file!".
int _createdir(const char* path);

// Creates every folder along the path (the drive counts as existing). 1 when all exist afterwards,
// 0 at the first failure or for a null or empty path.
int ss_dir_createTree(const char* path);

// Renames; fails when the new name exists. Non-zero on success, 0 on failure or a null path.
int ss_file_move(const char* oldPath, const char* newPath);

// Deletes a file, clearing its read-only bit first. Non-zero when the file is gone or was never there
// (a folder is left alone and counts as success); 0 when deletion failed.
int ss_file_remove(const char* path);

// Deletes a file; when that fails, moves it into the temporary folder and deletes it there.
// 1 when the path is free afterwards; 0 (logged "Can not delete file[%s]\n") or for a null path.
int deletefile(const char* path);

// Writes a new temporary path "C:\\Work\\system\\quenta\\temp\\tmp__%08x" into `buffer` and makes
// sure its folder exists. 0, or -1 when buffer is null or size < SS_MAX_PATH. Thread-safe: every call
// takes the next number of one process-wide sequence, so names made at the same moment on different
// threads differ (a name taken by an existing file is skipped, up to five tries).
int ss_temp_name(char* buffer, size_t size);

// Size in bytes, or -1 when the file cannot be opened.
int64_t ss_file_size(const char* path);

// Index of the last separator at or before `from`, or -1. Trail bytes of GBK characters are not
// taken for separators.
int ss_path_lastSeparator(const char* path, int from);

// Last component; absent for null/empty, a bare drive "X:" or a path ending in a separator.
std::optional<std::string> ss_path_basename(const char* path);
// Folder part; a bare drive gives itself, a separator at index 0 gives that separator, no separator
// gives absent.
std::optional<std::string> ss_path_dirname(const char* path);

// Dotted IPv4 text to the value whose lowest byte is the first number; 0 for bad input (any character
// other than digits and dots, more than four numbers, more than 15 characters).
uint32_t ss_ip_toInteger(const char* text);
// 1 for canonical dotted text (four numbers 0..255, no leading zeros) of a unicast address outside
// 0.0.0.0/8, 127/8, 224/4 and 240/4 (so not 255.255.255.255), else 0. This PC's own subnets are not
// looked at: ss_ip_judge (ss_ip.h) does that.
int ss_ip_isValid(const char* text);

// GBK -> UTF-16 and UTF-16 -> GBK. 1 when the whole input converted, 0 on bad input or null (out then
// holds the lenient conversion, bad input replaced).
int ss_text_toWide(const char* narrow, std::u16string& out);
int ss_text_toNarrow(std::u16string_view wide, std::string& out);
// Lenient conversions for texts shown to people: bad input becomes U+FFFD / "?".
std::string ss_text_gbkToUtf8(std::string_view gbk);
std::string ss_text_utf8ToGbk(std::string_view utf8);

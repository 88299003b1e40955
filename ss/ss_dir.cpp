#include "ss/ss_dir.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "ss/ss_ip.h"
#include "ss/ss_log.h"
#include "ss/ss_platform.h"

namespace {

constexpr const char* kTempFolder = "C:\\Work\\system/quenta/temp";

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// Length in bytes of the GBK character that starts at text[i] (a lead byte 0x81..0xFE takes the next
// byte with it, so a trail byte 0x5C is never read as "\\").
size_t characterLength(const char* text, size_t i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x81 && c <= 0xFE && text[i + 1] != '\0') return 2;
    return 1;
}

// Index of the first `wanted` at a character boundary at or after `from`, or npos.
size_t findCharacter(const std::string& text, size_t from, char wanted) {
    for (size_t i = 0; i < text.size(); i += characterLength(text.c_str(), i))
        if (i >= from && text[i] == wanted) return i;
    return std::string::npos;
}

// The numbers of temporary names (0..32767, so names keep the shape tmp__0000xxxx). The start is
// taken once per process from the clock; after that every name takes the next number. No reseeding:
// two names made at the same moment, on any threads, never share a number (until 32768 names wrap).
class TempNameNumbers {
  public:
    unsigned next() {
        std::call_once(started_, [this] {
            next_.store(static_cast<unsigned>(static_cast<uint64_t>(ss_platform_nowMs()) * 2654435761u));
        });
        return next_.fetch_add(1) & 0x7FFFu;
    }

  private:
    std::once_flag started_;
    std::atomic<unsigned> next_{0};
};

TempNameNumbers g_tempNumbers;

}  // namespace

int ss_file_attributes(const char* path) {
    if (path == nullptr) return -1;
    return ss_platform_fileAttributes(path);
}

int _createdir(const char* path) {
    int attributes = ss_file_attributes(path);
    if (attributes == -1) {
        if (ss_platform_mkdir(path) == 0) return 1;
        // Another thread may have made it in between: what counts is that it exists now.
        attributes = ss_file_attributes(path);
        return attributes != -1 && (attributes & SS_FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    }
    if (attributes & SS_FILE_ATTRIBUTE_DIRECTORY) return 1;
    SS_LOG(SS_LOG_ERROR, "Error [%s] is a file!", path);
    return 0;
}

int ss_dir_createTree(const char* path) {
    if (path == nullptr || path[0] == '\0') return 0;
    std::string copy(path);
    // Start after the first character, so that a leading separator never yields an empty name.
    size_t from = characterLength(copy.c_str(), 0);
    int result = 0;
    for (;;) {
        // A later "\\" is taken before an earlier "/".
        size_t separator = findCharacter(copy, from, '\\');
        if (separator == std::string::npos) separator = findCharacter(copy, from, '/');
        if (separator == std::string::npos) return _createdir(copy.c_str());
        result = _createdir(copy.substr(0, separator).c_str());
        if (result == 0) return 0;
        from = separator + 1;
    }
}

int ss_file_move(const char* oldPath, const char* newPath) {
    if (oldPath == nullptr || newPath == nullptr) return 0;
    return ss_platform_rename(oldPath, newPath) == 0 ? 1 : 0;
}

int ss_file_remove(const char* path) {
    if (path == nullptr) return 1;
    int attributes = ss_file_attributes(path);
    if (attributes == -1 || (attributes & SS_FILE_ATTRIBUTE_DIRECTORY)) return 1;
    if (attributes & SS_FILE_ATTRIBUTE_READONLY) ss_platform_setReadOnly(path, false);
    return ss_platform_unlink(path) == 0 ? 1 : 0;
}

int deletefile(const char* path) {
    if (path == nullptr) return 0;
    if (ss_file_remove(path) == 0) {
        // Typically a file still open elsewhere: free its path by moving it into the temporary folder
        // and delete it there if possible.
        std::optional<std::string> component = ss_path_basename(path);
        char temporary[SS_MAX_PATH];
        if (ss_temp_name(temporary, sizeof temporary) == 0) {
            std::string target = std::string(temporary) + "_" + component.value_or("");
            if (ss_file_move(path, target.c_str())) ss_file_remove(target.c_str());
        }
    }
    int attributes = ss_file_attributes(path);
    if (attributes == -1 || (attributes & SS_FILE_ATTRIBUTE_DIRECTORY)) return 1;
    SS_LOG(SS_LOG_ERROR, "Can not delete file[%s]\n", path);
    return 0;
}

int ss_temp_name(char* buffer, size_t size) {
    if (buffer == nullptr || size < static_cast<size_t>(SS_MAX_PATH)) return -1;
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::snprintf(buffer, size, "%s%ctmp__%08x", kTempFolder, '\\', g_tempNumbers.next());
        int attributes = ss_file_attributes(buffer);
        if (attributes == -1 || (attributes & SS_FILE_ATTRIBUTE_DIRECTORY)) break;
    }
    for (char* c = buffer; *c != '\0'; ++c)
        if (*c == '/') *c = '\\';
    std::optional<std::string> folder = ss_path_dirname(buffer);
    if (folder) {
        int attributes = ss_file_attributes(folder->c_str());
        if (attributes == -1 || !(attributes & SS_FILE_ATTRIBUTE_DIRECTORY))
            ss_dir_createTree(folder->c_str());
    }
    return 0;
}

int64_t ss_file_size(const char* path) {
    if (path == nullptr) return -1;
    int attributes = ss_file_attributes(path);
    // A folder opens for reading on POSIX but has no size here, as on Windows.
    if (attributes == -1 || (attributes & SS_FILE_ATTRIBUTE_DIRECTORY)) return -1;
    FILE* file = ss_platform_fopen(path, "rb");
    if (file == nullptr) return -1;
    int64_t size = -1;
    if (fseeko(file, 0, SEEK_END) == 0) size = static_cast<int64_t>(ftello(file));
    std::fclose(file);
    return size;
}

int ss_path_lastSeparator(const char* path, int from) {
    if (path == nullptr || path[0] == '\0' || from < 0) return -1;
    size_t length = std::strlen(path);
    size_t last = static_cast<size_t>(from) < length ? static_cast<size_t>(from) : length - 1;
    int found = -1;
    for (size_t i = 0; i <= last; i += characterLength(path, i))
        if (isSeparator(path[i])) found = static_cast<int>(i);
    return found;
}

std::optional<std::string> ss_path_basename(const char* path) {
    if (path == nullptr || path[0] == '\0') return std::nullopt;
    size_t length = std::strlen(path);
    if (length == 2 && path[1] == ':') return std::nullopt;
    int separator = ss_path_lastSeparator(path, static_cast<int>(length) - 1);
    if (separator == static_cast<int>(length) - 1) return std::nullopt;
    return std::string(path + separator + 1);
}

std::optional<std::string> ss_path_dirname(const char* path) {
    if (path == nullptr || path[0] == '\0') return std::nullopt;
    size_t length = std::strlen(path);
    if (length == 2 && path[1] == ':') return std::string(path);
    int separator = ss_path_lastSeparator(path, static_cast<int>(length) - 1);
    if (separator > 0) return std::string(path, static_cast<size_t>(separator));
    if (separator == 0) return std::string(path, 1);
    return std::nullopt;
}

uint32_t ss_ip_toInteger(const char* text) {
    if (text == nullptr) return 0;
    // A longer text is no IPv4 address; refusing it keeps it from wrapping into another valid value.
    if (std::strlen(text) > 15) return 0;
    uint32_t sum = 0;
    uint32_t number = 0;
    int dots = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c >= '0' && *c <= '9') {
            number = number * 10 + static_cast<uint32_t>(*c - '0');
        } else if (*c == '.') {
            // A fourth dot would shift by 32 bits: not an address.
            if (dots == 3) return 0;
            sum += number << (8 * dots);
            ++dots;
            number = 0;
        } else {
            return 0;
        }
    }
    return sum + (number << (8 * dots));
}

int ss_ip_isValid(const char* text) {
    return ss_ip_judge(text, {}) == SS_IpVerdict::usable ? 1 : 0;
}

int ss_text_toWide(const char* narrow, std::u16string& out) {
    if (narrow == nullptr) {
        out.clear();
        return 0;
    }
    return ss_platform_gbkToUtf16(narrow, out) == 0 ? 1 : 0;
}

int ss_text_toNarrow(std::u16string_view wide, std::string& out) {
    return ss_platform_utf16ToGbk(wide, out) == 0 ? 1 : 0;
}

std::string ss_text_gbkToUtf8(std::string_view gbk) {
    std::string out;
    ss_platform_gbkToUtf8(gbk, out);
    return out;
}

std::string ss_text_utf8ToGbk(std::string_view utf8) {
    std::string out;
    ss_platform_utf8ToGbk(utf8, out);
    return out;
}

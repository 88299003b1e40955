// ss_tcpfile: putting a file to a device's upload service over TCP, and receiving one back.
#include "ss/ss_tcpfile.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "ss/ss_dir.h"
#include "ss/ss_log.h"
#include "ss/ss_platform.h"

const char SS_TCPFILE_UPLOAD_PATH_PREFIX[] = "C:\\Work/quenta/upload/QN_UPGRADE";
const char SS_TCPFILE_RECEIVED_FOLDER[] = "C:\\Work\\system\\quenta\\received";

namespace {

constexpr int kWinsockWouldBlock = 10035;
constexpr int kDecryptHead = 1024;  // bytes of a received upgrade file that are deciphered

// The wait of every readiness check, shared by all clients; each new client sets it again.
std::atomic<int> g_waitMicroseconds{500000};
std::atomic<int> g_inactivityLimitMs{SS_TCPFILE_DEFAULT_INACTIVITY_MS};
std::atomic<int> g_verdictLimitMs{SS_TCPFILE_DEFAULT_VERDICT_MS};
std::atomic<int> g_replyLimitMs{SS_TCPFILE_DEFAULT_REPLY_MS};
using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kNoDeadline = Clock::time_point::max();
// Keep-alive on every upload connection: a device that has vanished (power cut, cable pulled) fails
// the connection after about 30 + 6 x 10 s, long before the verdict limit.
constexpr int kKeepAliveIdleSeconds = 30;
constexpr int kKeepAliveIntervalSeconds = 10;
constexpr int kKeepAliveProbes = 6;
std::atomic<void (*)(int, unsigned char*)> g_uploadDecryptor{nullptr};

bool isAlive(SS_FileSocket* record) {
    std::lock_guard<std::mutex> guard(record->lock);
    return record->alive != 0;
}

void markDead(SS_FileSocket* record) {
    std::lock_guard<std::mutex> guard(record->lock);
    record->alive = 0;
}

// Measures the time since a byte last moved; a transfer gives up when it reaches its limit, so a
// peer that keeps the connection open but stays silent cannot hold a worker forever. Content and
// integers use the inactivity limit; the wait for the device's verdict after the last byte uses the
// much longer verdict limit (the device checks and writes the package to flash meanwhile).
class IdleClock {
  public:
    explicit IdleClock(const std::atomic<int>& limitMs = g_inactivityLimitMs) : limitMs_(limitMs) {}
    void moved() { last_ = std::chrono::steady_clock::now(); }
    bool expired(SS_FileSocket* record) const {
        const auto idleMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - last_)
                .count();
        if (idleMs < limitMs_.load()) return false;
        SS_LOG(SS_LOG_ERROR, "No data moved for %lld ms: transfer given up\n",
               static_cast<long long>(idleMs));
        markDead(record);
        return true;
    }

  private:
    const std::atomic<int>& limitMs_;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

int waitReady(SS_FileSocket* record, bool forWriting) {
    if (record == nullptr || !record->socket) return -1;
    const int descriptor = record->socket->descriptor;
    if (!ss_platform_selectable(descriptor)) return -1;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(descriptor, &set);
    const int wait = g_waitMicroseconds.load();
    timeval timeout{wait / 1000000, wait % 1000000};
    const int result = forWriting ? ::select(descriptor + 1, nullptr, &set, nullptr, &timeout)
                                  : ::select(descriptor + 1, &set, nullptr, nullptr, &timeout);
    if (result < 0 && ss_platform_lastSocketError() == SS_PLATFORM_SOCKET_INTERRUPTED) return 0;
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

bool transientError() {
    const int error = ss_platform_lastSocketError();
    return error == SS_PLATFORM_SOCKET_INTERRUPTED || error == SS_PLATFORM_SOCKET_WOULD_BLOCK;
}

// The bytes of a failed write as a bounded, printable text: the bytes may be an integer rather than
// text. Printable ASCII and GBK bytes stay, other bytes show as \xNN; at most 256 bytes are shown.
std::string printable(const unsigned char* bytes, int count) {
    constexpr int kShown = 256;
    std::string text;
    if (bytes == nullptr) return text;
    for (int i = 0; i < count && i < kShown; ++i) {
        const unsigned char c = bytes[i];
        if ((c >= 0x20 && c < 0x7F && c != '\\') || c >= 0x80) {
            text.push_back(static_cast<char>(c));
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            text += "\\x";
            text.push_back(kHex[c >> 4]);
            text.push_back(kHex[c & 0x0F]);
        }
    }
    if (count > kShown) text += "...";
    return text;
}

// Sends one chunk whole. The send never waits, so a full send buffer (a silent peer) is met by the
// 500 ms writable checks, which look at alive and the inactivity limit between them. When the buffer
// has room this is one send per chunk and no select. 0, or -1 (an error: the record turns dead).
int sendChunk(SS_FileSocket* record, const unsigned char* bytes, int count, IdleClock& idle) {
    int offset = 0;
    while (offset < count) {
        if (!isAlive(record)) return -1;
        const int sent = ss_platform_sendNow(record->socket->descriptor, bytes + offset, count - offset);
        if (sent > 0) {
            offset += sent;
            idle.moved();
            continue;
        }
        if (sent < 0 && ss_platform_lastSocketError() != kWinsockWouldBlock) {
            record->socket->errorReporter(record->socket.get());
            markDead(record);
            return -1;
        }
        const int ready = record->writableCheck(record);
        if (ready < 0) {
            markDead(record);
            return -1;
        }
        if (ready == 0 && idle.expired(record)) return -1;
    }
    return 0;
}

// Deciphers the first kilobyte (whole 8-byte blocks) of a received upgrade file in place.
void decryptUploadHead(const char* path) {
    auto* decryptor = g_uploadDecryptor.load();
    if (decryptor == nullptr) {
        SS_LOG(SS_LOG_WARN, "No decryptor set: [%s] kept as received\n", path);
        return;
    }
    std::unique_ptr<FILE, FileCloser> file(ss_platform_fopen(path, "r+b"));
    if (!file) return;
    unsigned char head[kDecryptHead];
    const size_t count = std::fread(head, 1, sizeof head, file.get());
    decryptor(static_cast<int>(count), head);
    std::fseek(file.get(), 0, SEEK_SET);
    std::fwrite(head, 1, count, file.get());
}

}  // namespace

void SS_TcpFile_setUploadDecryptor(void (*decryptor)(int length, unsigned char* buffer)) {
    g_uploadDecryptor.store(decryptor);
}

void SS_TcpFile_setVerdictLimitMs(int milliseconds) {
    g_verdictLimitMs.store(milliseconds);
}
int SS_TcpFile_verdictLimitMs() {
    return g_verdictLimitMs.load();
}

void SS_TcpFile_setReplyLimitMs(int milliseconds) {
    g_replyLimitMs.store(milliseconds);
}
int SS_TcpFile_replyLimitMs() {
    return g_replyLimitMs.load();
}

void SS_TcpFile_setInactivityLimitMs(int milliseconds) {
    g_inactivityLimitMs.store(milliseconds);
}
int SS_TcpFile_inactivityLimitMs() {
    return g_inactivityLimitMs.load();
}

int _SS_FileSocket_waitReadable(SS_FileSocket* record) {
    return waitReady(record, false);
}
int _SS_FileSocket_waitWritable(SS_FileSocket* record) {
    return waitReady(record, true);
}

int _SS_FileSocket_progress(SS_FileSocket* record) {
    if (record == nullptr) return 0;
    const int size = record->size.load();
    if (size <= 0) return 0;
    float share = static_cast<float>(record->transferred.load()) / static_cast<float>(size);
    if (share > 1.0f) share = 1.0f;
    if (share < 0.0f) share = 0.0f;
    return static_cast<int>(share * 100.0f);
}

SS_TcpFileClient* SS_TcpFileClient_new(int port, const char* host) {
    if (port < SS_TCPFILE_MIN_PORT || port > SS_TCPFILE_MAX_PORT) {  // never wrapped to another port
        SS_LOG(SS_LOG_ERROR, "No TCP port %d on [%s]\n", port, host ? host : "");
        return nullptr;
    }
    SS_SocketPtr socket = _SS_Socket_newClientSocket(host, port, SS_SOCKET_TCP);
    if (!socket) return nullptr;
    g_waitMicroseconds.store(500000);
    _SS_Socket_setBlockMode(socket.get(), 0);  // a failure is logged there and otherwise ignored
    if (ss_platform_setKeepAlive(socket->descriptor, kKeepAliveIdleSeconds, kKeepAliveIntervalSeconds,
                                 kKeepAliveProbes) != 0)
        SS_LOG(SS_LOG_WARN, "Keep-alive not set on [%s:%d]\n", host, port);

    SS_FileSocketPtr record(new SS_FileSocket);
    record->socket = std::move(socket);
    record->peer = host;
    record->alive = 1;  // not shared yet
    record->readableCheck = _SS_FileSocket_waitReadable;
    record->writableCheck = _SS_FileSocket_waitWritable;
    record->progress = _SS_FileSocket_progress;
    auto* client = new SS_TcpFileClient;
    client->fileSocket = std::move(record);
    return client;
}

void _SS_FileSocket_close(SS_FileSocket* record) {
    if (record == nullptr) return;
    markDead(record);
    record->file.reset();
    record->socket.reset();
    delete record;
}

void SS_TcpFileClient_free(SS_TcpFileClient* client) {
    if (client == nullptr) return;
    if (client->fileSocket && isAlive(client->fileSocket.get()))
        _SS_FileSocket_writeInteger(client->fileSocket.get(), SS_TCPFILE_CMD_CLOSE);
    client->fileSocket.reset();
    delete client;
}

void SS_TcpFileClient_abort(SS_TcpFileClient* client) {
    if (client != nullptr && client->fileSocket) markDead(client->fileSocket.get());
}

namespace {

// _SS_FileSocket_readBytes with the given idle limit and an overall deadline (kNoDeadline: none).
// Each recv takes what is there, up to the bytes still missing, so nothing past `count` is consumed.
int readBytesWithin(SS_FileSocket* record, unsigned char* buffer, int count, const std::atomic<int>& limitMs,
                    Clock::time_point deadline = kNoDeadline) {
    if (record == nullptr || !isAlive(record)) return 1;
    IdleClock idle(limitMs);
    bool endOfStream = false;
    int i = 0;
    while (i < count && isAlive(record)) {
        if (deadline != kNoDeadline && Clock::now() >= deadline) {
            SS_LOG(SS_LOG_ERROR, "Reply not complete within its time: transfer given up\n");
            markDead(record);
            return -1;
        }
        const int ready = record->readableCheck(record);
        if (ready < 0) break;
        if (ready == 0) {
            if (idle.expired(record)) return -1;
            continue;
        }
        const int received = ss_platform_recv(record->socket->descriptor, buffer + i, count - i);
        if (received == 0) {
            endOfStream = true;
            break;
        }
        if (received < 0) {
            if (transientError()) continue;
            record->socket->errorReporter(record->socket.get());
            markDead(record);
            return -1;
        }
        i += received;
        idle.moved();
    }
    if (endOfStream) {
        markDead(record);  // the peer has gone: no close command is sent to it later
    } else if (!isAlive(record)) {
        return 1;
    }
    if (i == count) return 0;
    SS_LOG(SS_LOG_ERROR, "Socket read error!\n");
    return -1;
}

int32_t littleEndian(const unsigned char* bytes) {
    return static_cast<int32_t>(static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                                (static_cast<uint32_t>(bytes[2]) << 16) |
                                (static_cast<uint32_t>(bytes[3]) << 24));
}

// An integer of the reply, before its deadline. 0, or the read's failure (value -1).
int readReplyInteger(SS_FileSocket* record, int& value, Clock::time_point deadline) {
    value = -1;
    unsigned char bytes[4] = {};
    const int result = readBytesWithin(record, bytes, 4, g_inactivityLimitMs, deadline);
    if (result == 0) value = littleEndian(bytes);
    return result;
}

// The reply broke its bounds: it is given up, and the stream is out of step, so the connection
// turns dead (no close command follows).
int invalidReply(SS_FileSocket* record) {
    record->replyInvalid = true;
    markDead(record);
    return -1;
}

}  // namespace

int _SS_FileSocket_readBytes(SS_FileSocket* record, unsigned char* buffer, int count) {
    return readBytesWithin(record, buffer, count, g_inactivityLimitMs);
}

int _SS_FileSocket_writeBytes(SS_FileSocket* record, const unsigned char* bytes, int count) {
    if (record == nullptr || !isAlive(record)) return 1;
    IdleClock idle;
    int i = 0;
    while (i < count && isAlive(record)) {
        const int ready = record->writableCheck(record);
        if (ready < 0) break;
        if (ready == 0) {
            if (idle.expired(record)) break;
            continue;
        }
        const int sent = ss_platform_send(record->socket->descriptor, bytes + i, 1);
        if (sent <= 0) {
            if (sent < 0 && transientError()) continue;
            if (sent < 0) record->socket->errorReporter(record->socket.get());
            markDead(record);
            return -1;
        }
        ++i;
        idle.moved();
    }
    if (i == count) return 0;
    SS_LOG(SS_LOG_ERROR, "Send String value[%s] Failed\n", printable(bytes, count).c_str());
    return -1;
}

int _SS_FileSocket_readInteger(SS_FileSocket* record, int& value) {
    value = -1;
    if (record == nullptr) return 1;
    std::memset(record->buffer, 0, 4);
    const int result = _SS_FileSocket_readBytes(record, record->buffer, 4);
    if (result == 1) {
        SS_LOG(SS_LOG_DEBUG, "Socket broken!\n");
    } else if (result == -1) {
        SS_LOG(SS_LOG_ERROR, "Read int error!\n");
    } else {
        value = littleEndian(record->buffer);
    }
    return result;
}

int _SS_FileSocket_writeInteger(SS_FileSocket* record, int value) {
    if (record == nullptr || !isAlive(record)) return 1;
    const auto bits = static_cast<uint32_t>(value);
    const unsigned char bytes[4] = {static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
                                    static_cast<unsigned char>(bits >> 16),
                                    static_cast<unsigned char>(bits >> 24)};
    return _SS_FileSocket_writeBytes(record, bytes, 4);
}

int _SS_FileSocket_sendFile(SS_FileSocket* record) {
    if (record == nullptr || !isAlive(record) || record->size.load() <= 0 || record->path[0] == '\0')
        return 1;
    record->file.reset();
    // A larger stream buffer than the default (4 KiB) saves read calls; the chunks on the wire stay
    // 2048 bytes. It outlives the stream, which is closed below on every path.
    std::vector<char> streamBuffer(256 * 1024);
    record->file.reset(ss_platform_fopen(record->path, "rb"));
    if (!record->file) return -4;
    std::setvbuf(record->file.get(), streamBuffer.data(), _IOFBF, streamBuffer.size());
    record->transferred.store(0);

    const int size = record->size.load();
    int result = 0;
    IdleClock idle;
    while (record->transferred.load() < size) {
        const int count = std::min(SS_TCPFILE_CHUNK, size - record->transferred.load());
        if (std::fread(record->buffer, 1, static_cast<size_t>(count), record->file.get()) !=
            static_cast<size_t>(count)) {
            result = -4;
            break;
        }
        if (sendChunk(record, record->buffer, count, idle) != 0) {
            result = -1;
            break;
        }
        record->transferred.fetch_add(count);
    }
    record->file.reset();

    if (result == 0) {
        SS_LOG(SS_LOG_DEBUG, "Send File[%s] OK: File Size[%d] Transfered [%d]\n", record->path, size,
               record->transferred.load());
    } else {
        SS_LOG(SS_LOG_ERROR, "****Send File[%s] Failed: File Size[%d] Transfered [%d]\n", record->path, size,
               record->transferred.load());
    }
    return result;
}

int _SS_FileSocket_recvFile(SS_FileSocket* record) {
    if (record == nullptr || !isAlive(record) || record->size.load() <= 0 || record->path[0] == '\0')
        return 1;
    if (auto folder = ss_path_dirname(record->path)) ss_dir_createTree(folder->c_str());
    record->file.reset();
    record->file.reset(ss_platform_fopen(record->path, "wb"));
    if (!record->file) return -5;
    record->transferred.store(0);

    const int size = record->size.load();
    int result = 0;
    IdleClock idle;
    while (record->transferred.load() < size) {
        if (!isAlive(record)) {
            result = -1;
            break;
        }
        const int ready = record->readableCheck(record);
        if (ready < 0) {  // an error ends the transfer as a failure, never as a short success
            result = -1;
            break;
        }
        if (ready == 0) {
            if (idle.expired(record)) {
                result = -1;
                break;
            }
            continue;
        }
        const int wanted = std::min(SS_TCPFILE_CHUNK, size - record->transferred.load());
        const int received = ss_platform_recv(record->socket->descriptor, record->buffer, wanted);
        if (received < 0 && transientError()) continue;
        if (received <= 0) {
            if (received < 0) record->socket->errorReporter(record->socket.get());
            result = -1;
            break;
        }
        idle.moved();
        if (std::fwrite(record->buffer, 1, static_cast<size_t>(received), record->file.get()) !=
            static_cast<size_t>(received)) {
            result = -5;
            break;
        }
        record->transferred.fetch_add(static_cast<int>(received));
    }
    if (record->file && std::fclose(record->file.release()) != 0 && result == 0) result = -5;

    if (result != 0) {
        SS_LOG(SS_LOG_ERROR, "***Recv File[%s] Failed: File Size[%d] Transfered [%d]\n", record->path, size,
               record->transferred.load());
        markDead(record);
        record->socket.reset();  // released here, not again at close
        return result;
    }
    SS_LOG(SS_LOG_DEBUG, "Recv File[%s] OK:  File Size[%d] Transfered [%d]\n", record->path, size,
           record->transferred.load());
    if (std::strncmp(record->path, SS_TCPFILE_UPLOAD_PATH_PREFIX, sizeof SS_TCPFILE_UPLOAD_PATH_PREFIX - 1) ==
        0)
        decryptUploadHead(record->path);
    return 0;
}

int _SS_TcpFileClient_handReturn(SS_FileSocket* record) {
    // The verdict may take long (the device verifies and writes the package first): its first byte is
    // awaited under the verdict limit. The rest of the reply follows at once on a working device, so
    // it must come within the reply limit (a device trickling bytes cannot hold the transfer), never
    // pausing longer than the inactivity limit. A vanished device is found by the keep-alive.
    if (record == nullptr) return -1;
    record->replyInvalid = false;
    unsigned char head[4] = {};
    int read = readBytesWithin(record, head, 1, g_verdictLimitMs);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(g_replyLimitMs.load());
    if (read == 0) read = readBytesWithin(record, head + 1, 3, g_inactivityLimitMs, deadline);
    if (read == 1) SS_LOG(SS_LOG_DEBUG, "Socket broken!\n");
    if (read == -1) SS_LOG(SS_LOG_ERROR, "Read int error!\n");
    if (read != 0) return -1;
    const int command = littleEndian(head);
    record->replyCommand = command;
    switch (command) {
        case SS_TCPFILE_CMD_SIZE: {
            SS_LOG(SS_LOG_DEBUG, "Got command: SS_TCPFILE_CMD_SIZE\n");
            int size = -1;
            if (readReplyInteger(record, size, deadline) != 0) return invalidReply(record);
            if (size <= 0 || size > SS_TCPFILE_MAX_RECV_SIZE) {
                SS_LOG(SS_LOG_ERROR, "Invalid file size[%d]!\n", size);
                return -1;
            }
            // The file comes back under a new name of its own in the received-files folder, named
            // after the device: the local file of the put (the package) is never written over, and
            // files from several devices (or several from one) never share a name.
            char temporary[SS_TCPFILE_PATH_SIZE] = {};
            if (ss_temp_name(temporary, sizeof temporary) != 0) return -1;
            std::string number = ss_path_basename(temporary).value_or("");
            if (number.rfind("tmp__", 0) == 0) number.erase(0, 5);
            const std::string received = std::string(SS_TCPFILE_RECEIVED_FOLDER) + "\\" +
                                         (record->peer.empty() ? "unknown" : record->peer) + "_" + number +
                                         ".bin";
            if (received.size() >= sizeof record->path) return -1;
            std::memcpy(record->path, received.c_str(), received.size() + 1);
            record->size.store(size);
            record->transferred.store(0);
            if (_SS_FileSocket_recvFile(record) != 0) {
                ss_file_remove(received.c_str());
                return -1;
            }
            SS_LOG(SS_LOG_INFO, "File received from [%s] kept in folder [%s] as [%s]\n", record->peer.c_str(),
                   SS_TCPFILE_RECEIVED_FOLDER, ss_path_basename(received.c_str()).value_or("").c_str());
            return 0;
        }
        case SS_TCPFILE_CMD_OK:
            return 0;
        case SS_TCPFILE_CMD_ERROR: {
            SS_LOG(SS_LOG_DEBUG, "Got command: SS_TCPFILE_CMD_ERROR\n");
            int length = -1;
            if (readReplyInteger(record, length, deadline) != 0) return invalidReply(record);
            if (length <= 0 || length > SS_TCPFILE_MAX_ERROR_TEXT) {
                SS_LOG(SS_LOG_ERROR, "Invalid error text length[%d]!\n", length);
                return invalidReply(record);
            }
            std::string text(static_cast<size_t>(length), '\0');
            if (readBytesWithin(record, reinterpret_cast<unsigned char*>(text.data()), length,
                                g_inactivityLimitMs, deadline) != 0)
                return invalidReply(record);
            text.resize(std::strlen(text.c_str()));  // the text ends at its first zero byte
            record->errorText = text;
            SS_LOG(SS_LOG_ERROR, "TCP FILE ERROR:%s", record->errorText.c_str());
            return -1;
        }
        default:
            SS_LOG(SS_LOG_ERROR, "Invalid command[%d]!", command);
            return -1;
    }
}

int SS_TcpFileClient_putFile(const char* remoteName, SS_TcpFileClient* client, const char* localPath) {
    if (remoteName == nullptr || remoteName[0] == '\0' || localPath == nullptr || localPath[0] == '\0' ||
        client == nullptr || !client->fileSocket)
        return -1;
    const size_t pathLength = std::strlen(localPath);
    if (pathLength >= static_cast<size_t>(SS_TCPFILE_PATH_SIZE)) {
        SS_LOG(SS_LOG_ERROR, "Local path too long: %zu bytes\n", pathLength);
        return -1;
    }
    const int64_t size = ss_file_size(localPath);
    if (size <= 0) return -1;
    if (size > INT_MAX) {  // the size travels as a 4-byte integer
        SS_LOG(SS_LOG_ERROR, "File[%s] too large to send: %lld bytes\n", localPath,
               static_cast<long long>(size));
        return -1;
    }
    SS_FileSocket* record = client->fileSocket.get();
    record->size.store(static_cast<int>(size));
    record->transferred.store(0);
    std::memcpy(record->path, localPath, pathLength + 1);

    const size_t nameLength = std::strlen(remoteName);
    if (nameLength > static_cast<size_t>(INT_MAX) ||
        _SS_FileSocket_writeInteger(record, SS_TCPFILE_CMD_PUT) != 0 ||
        _SS_FileSocket_writeInteger(record, static_cast<int>(nameLength)) != 0 ||
        _SS_FileSocket_writeBytes(record, reinterpret_cast<const unsigned char*>(remoteName),
                                  static_cast<int>(nameLength)) != 0 ||
        _SS_FileSocket_writeInteger(record, static_cast<int>(size)) != 0 ||
        _SS_FileSocket_sendFile(record) != 0) {
        SS_LOG(SS_LOG_ERROR, "Fail to put file[%s] to server!", localPath);
        return -1;
    }
    return _SS_TcpFileClient_handReturn(record);
}

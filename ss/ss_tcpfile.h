// ss_tcpfile: the TCP file transfer to a device's upload service. A client connects to the port the
// device named, puts a file under a remote name and reads the device's verdict (OK, an error text, or
// a file sent back). Wire format: integers are 4 bytes little-endian, byte strings are an integer
// length and the bytes, file content is raw bytes after its size. Commands: 1 PUT (client: name,
// size, content), 3 SIZE (server: size 1..419430400 and content), 4 CLOSE (client, on release while
// the connection works), 5 OK, 255 ERROR (server: a byte string of 1..4096 bytes).
//
// Results: 0 success, -1 failure, 1 nothing done (record absent or connection dead), -4 the local
// file cannot be read, -5 a received file cannot be written.
//
// Start-up duty: the engine sets the decryptor of received upgrade files with
// SS_TcpFile_setUploadDecryptor(desDecryptBuffer) before any transfer (ss cannot depend on the
// protocol library that holds the cipher).
#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "ss/ss_socket.h"

enum {
    SS_TCPFILE_CMD_PUT = 1,
    SS_TCPFILE_CMD_SIZE = 3,
    SS_TCPFILE_CMD_CLOSE = 4,
    SS_TCPFILE_CMD_OK = 5,
    SS_TCPFILE_CMD_ERROR = 255,
};

constexpr int SS_TCPFILE_CHUNK = 2048;                         // one send or recv of file content
constexpr int SS_TCPFILE_MAX_RECV_SIZE = 419430400;            // 400 MiB, largest file a SIZE reply may bring
constexpr int SS_TCPFILE_PATH_SIZE = 260;                      // local paths have at most 259 bytes
constexpr int SS_TCPFILE_DEFAULT_INACTIVITY_MS = 120000;       // no byte of content or integer moves
constexpr int SS_TCPFILE_DEFAULT_VERDICT_MS = 15 * 60 * 1000;  // the reply after the last byte
constexpr int SS_TCPFILE_DEFAULT_REPLY_MS = 30000;             // the reply once its first byte came
constexpr int SS_TCPFILE_MAX_ERROR_TEXT = 4096;                // longest text of an ERROR reply
constexpr int SS_TCPFILE_MIN_PORT = 1;                         // a device's upload port lies in
constexpr int SS_TCPFILE_MAX_PORT = 65535;                     // 1..65535
// Received files whose path starts with this have their first 1024 bytes deciphered.
extern const char SS_TCPFILE_UPLOAD_PATH_PREFIX[];  // "C:\\Work/quenta/upload/QN_UPGRADE"
// Files a device sends back (a SIZE reply) are kept here as "<device address>_<number>.bin".
extern const char SS_TCPFILE_RECEIVED_FOLDER[];  // "C:\\Work\\system\\quenta\\received"

struct FileCloser {
    void operator()(FILE* file) const {
        if (file) std::fclose(file);
    }
};

// One connection. The transfer runs on the thread that owns the client; another thread may read the
// progress (size, transferred: atomics) and stop the transfer (alive, under lock).
struct SS_FileSocket {
    SS_SocketPtr socket;                             // the stream, blocking; released once, at close
    std::mutex lock;                                 // guards alive
    int alive = 0;                                   // guarded by lock; 1 while the connection can be used
    std::unique_ptr<FILE, FileCloser> file;          // the file being sent or received; none in between
    std::atomic<int> size{0};                        // bytes of the current transfer
    std::atomic<int> transferred{0};                 // bytes moved so far in it
    char path[SS_TCPFILE_PATH_SIZE] = {};            // local path of the transfer
    std::string peer;                                // the host text connected to (names received files)
    unsigned char buffer[SS_TCPFILE_CHUNK] = {};     // one chunk; integers read; a received error text
    int (*readableCheck)(SS_FileSocket*) = nullptr;  // select for reading, 500 ms
    int (*writableCheck)(SS_FileSocket*) = nullptr;  // select for writing, 500 ms
    int (*progress)(SS_FileSocket*) = nullptr;       // percentage of the current transfer
    // What the last reply said, for the caller to tell failures apart (the transferring thread only):
    int replyCommand = 0;       // the reply's command once one was read; 0 none
    std::string errorText;      // the text of an ERROR reply (GBK, as much as was read)
    bool replyInvalid = false;  // the reply broke its bounds: too long a text, or too slow
};

// Marks the record dead and releases it with its socket; null allowed.
void _SS_FileSocket_close(SS_FileSocket* record);
struct SS_FileSocketDeleter {
    void operator()(SS_FileSocket* record) const { _SS_FileSocket_close(record); }
};
using SS_FileSocketPtr = std::unique_ptr<SS_FileSocket, SS_FileSocketDeleter>;

// The handle callers hold: the connection and a caller tag (the upload job keeps the device's list
// index there so that the window's timer can find the transfer).
struct SS_TcpFileClient {
    SS_FileSocketPtr fileSocket;
    int tag = 0;
};

// Connects to host:port; null when the connection cannot be made, and for a port outside 1..65535. The caller
// releases the client with SS_TcpFileClient_free (or holds it in an SS_TcpFileClientPtr).
SS_TcpFileClient* SS_TcpFileClient_new(int port, const char* host);

// Puts the local file under the remote name and reads the reply. 0 when the server answered OK, or
// answered with a file that was received whole (into a new file named after the device in
// SS_TCPFILE_RECEIVED_FOLDER: the local file is never written); else -1. Null/empty arguments and a missing
// or empty local file give -1 before anything is sent; so does a local path of 260 bytes or more.
int SS_TcpFileClient_putFile(const char* remoteName, SS_TcpFileClient* client, const char* localPath);

// Says goodbye (the close command, only while the connection works) and releases everything. Null ok.
void SS_TcpFileClient_free(SS_TcpFileClient* client);
struct SS_TcpFileClientDeleter {
    void operator()(SS_TcpFileClient* client) const { SS_TcpFileClient_free(client); }
};
using SS_TcpFileClientPtr = std::unique_ptr<SS_TcpFileClient, SS_TcpFileClientDeleter>;

// From another thread: clears alive, so the running transfer stops at its next step (within 500 ms)
// and the release sends no close command. Null ok.
void SS_TcpFileClient_abort(SS_TcpFileClient* client);

// Percentage 0..100 of the current transfer; 0 for an absent record or size <= 0. Any thread.
int _SS_FileSocket_progress(SS_FileSocket* record);
inline int _SS_FileSocket_progress(const SS_FileSocketPtr& record) {
    return _SS_FileSocket_progress(record.get());
}

// Reads one reply and acts on it. 0 or -1. Its first byte is awaited under the verdict limit; the
// rest (command, integers, error text) must follow within the reply limit, without a pause longer
// than the inactivity limit. An error text longer than SS_TCPFILE_MAX_ERROR_TEXT, and a reply given
// up on its limits, set replyInvalid; the record then turns dead (the stream is out of step).
int _SS_TcpFileClient_handReturn(SS_FileSocket* record);

// Reads/writes exactly `count` bytes after readiness checks (reads take what is there, up to what is
// still missing; writes go one byte per call). 0 done, 1 record absent or dead, -1 error (the record
// turns dead).
int _SS_FileSocket_readBytes(SS_FileSocket* record, unsigned char* buffer, int count);
int _SS_FileSocket_writeBytes(SS_FileSocket* record, const unsigned char* bytes, int count);
// Integers, little-endian. The read value is -1 when the read failed.
int _SS_FileSocket_readInteger(SS_FileSocket* record, int& value);
int _SS_FileSocket_writeInteger(SS_FileSocket* record, int value);
// File content of record->size bytes from/to record->path in 2048-byte chunks. 0, 1, -1, -4 / -5.
int _SS_FileSocket_sendFile(SS_FileSocket* record);
int _SS_FileSocket_recvFile(SS_FileSocket* record);
// select on the stream with the shared 500 ms wait: 1 ready, 0 time-out, -1 error.
int _SS_FileSocket_waitReadable(SS_FileSocket* record);
int _SS_FileSocket_waitWritable(SS_FileSocket* record);

// Sets the decryptor applied to the first 1024 bytes of files received under the upgrade receive
// path (desDecryptBuffer of the protocol library; set by the engine at start-up). Null unsets it.
void SS_TcpFile_setUploadDecryptor(void (*decryptor)(int length, unsigned char* buffer));

// How long a transfer waits without a single byte moving before it gives up (default 120 s). Tests
// shorten it. It does not apply to the wait for the device's verdict after the last content byte.
void SS_TcpFile_setInactivityLimitMs(int milliseconds);
int SS_TcpFile_inactivityLimitMs();
// How long a put waits for the device's verdict after the last content byte (default 15 min; a
// device may verify and write a large package to flash meanwhile). Connections also use TCP
// keep-alive, so a device that vanishes ends the wait early. Tests shorten it.
void SS_TcpFile_setVerdictLimitMs(int milliseconds);
int SS_TcpFile_verdictLimitMs();
// How long the rest of the reply may take once its first byte came (default 30 s): a device that
// trickles its reply byte by byte cannot hold the transfer longer than the verdict limit and this.
// A file sent back (SIZE) is content and runs under the inactivity limit. Tests shorten it.
void SS_TcpFile_setReplyLimitMs(int milliseconds);
int SS_TcpFile_replyLimitMs();

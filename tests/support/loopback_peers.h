// Loopback peers for network tests: a UDP peer that records datagrams and answers them at once, and
// a scriptable TCP file server that speaks the upload service's side of ss_tcpfile. Both listen on
// 127.0.0.1 on a port the system picks, serve from their own thread and stop when destroyed.
// Also a small reader of the log file for tests that check log lines.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ss/ss_platform_net.h"  // sockaddr_in

#include "tests/support/temp_dir.h"

namespace quenta_test {

// 127.0.0.1 with the given port, as a socket address.
sockaddr_in loopbackAddress(int port);
// The local port a descriptor is bound to, or -1.
int boundPort(int descriptor);
// Little-endian 4-byte integer, as the file transfer writes it.
std::string le32(int value);

// A UDP peer. Every datagram is recorded; when the answer function returns a text, that text plus a
// terminating zero goes back to the sender at once.
class LoopbackUdpPeer {
  public:
    using Answer = std::function<std::optional<std::string>(const std::string& datagram)>;
    explicit LoopbackUdpPeer(Answer answer = nullptr);
    ~LoopbackUdpPeer();
    LoopbackUdpPeer(const LoopbackUdpPeer&) = delete;
    LoopbackUdpPeer& operator=(const LoopbackUdpPeer&) = delete;

    int port() const { return port_; }
    sockaddr_in address() const { return loopbackAddress(port_); }
    // The datagrams received so far (raw bytes, in arrival order).
    std::vector<std::string> datagrams() const;
    // Waits until at least `count` datagrams arrived or `timeoutMs` passed; true when they did.
    bool waitForDatagrams(size_t count, int timeoutMs) const;
    // Sends raw bytes from the peer's socket (for oversized or malformed datagrams).
    bool sendRaw(const sockaddr_in& to, const std::string& bytes) const;

  private:
    void serve();

    int descriptor_ = -1;
    int port_ = -1;
    Answer answer_;
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;  // guards received_
    mutable std::condition_variable arrived_;
    std::vector<std::string> received_;  // guarded by lock_
    std::thread thread_;
};

// What the TCP file server does with the one connection it accepts.
struct TcpFileScript {
    enum class Reply {
        Ok,               // 5
        Error,            // 255, text as a byte string
        Integer,          // `value` alone (say an unknown command)
        Size,             // 3, size of fileContent, fileContent
        SizeOnly,         // 3, `value`, nothing more
        CloseMidContent,  // close the connection after `value` content bytes were read
        HalfClose,        // no reply; shut the sending side (the client reads the end of stream)
        Silent,           // no reply; keep the connection open until the client closes it
        None,             // read no request at all (use with sendOnAccept)
        Raw,              // `text` as it is, one byte every `trickleMs` ms when that is set
    };
    Reply reply = Reply::Ok;
    int value = 0;
    std::string text;
    std::string fileContent;
    std::string sendOnAccept;  // raw bytes sent as soon as the connection is accepted
    bool keepContent = true;   // false: content bytes are counted, not kept
    int replyDelayMs = 0;      // pause between the last content byte and the reply
    int trickleMs = 0;         // Raw: the pause after each byte (0: all at once)
};

// What the server saw on its connection.
struct TcpFileSession {
    bool accepted = false;
    std::string request;  // every byte the client sent before the reply (or until it stopped)
    int command = -1;     // first integer
    std::string name;     // remote name of a PUT
    int size = -1;        // size of a PUT
    int64_t contentBytes = 0;
    std::string content;           // the content (when kept)
    bool requestComplete = false;  // a whole PUT (command 1, name, size, content) was read
    std::string afterReply;        // bytes the client sent after the reply, until it closed
};

// Accepts one connection on 127.0.0.1 and plays the script on it.
class LoopbackTcpFileServer {
  public:
    explicit LoopbackTcpFileServer(TcpFileScript script);
    ~LoopbackTcpFileServer();
    LoopbackTcpFileServer(const LoopbackTcpFileServer&) = delete;
    LoopbackTcpFileServer& operator=(const LoopbackTcpFileServer&) = delete;

    int port() const { return port_; }
    // Waits (up to 60 s) until the client closed the connection and returns what was seen.
    TcpFileSession finish();

  private:
    void serve();
    bool readExactly(int descriptor, char* bytes, size_t count);
    std::string readUntilClosed(int descriptor);

    TcpFileScript script_;
    int listener_ = -1;
    int port_ = -1;
    std::atomic<bool> stop_{false};
    TcpFileSession session_;  // written by the server thread only, read after it was joined
    std::thread thread_;
};

// Opens the log on a file in a fresh temporary folder for the object's lifetime; takeNew() returns
// the text written since the last call.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::string takeNew();

  private:
    TempDir folder_{"log-capture-"};
    std::string path_;
    size_t offset_ = 0;
};

}  // namespace quenta_test

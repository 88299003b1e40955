// test-labels: threads
// ss_tcpfile against a scripted loopback upload service: the exact bytes of a put, every kind of
// reply, chunking, refused inputs, release after a dead connection, silent peers, abort, progress, and
// the deciphering of received upgrade files.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ss/ss_platform.h"
#include "ss/ss_tcpfile.h"
#include "tests/support/loopback_peers.h"
#include "tests/support/temp_dir.h"

using quenta_test::le32;
using quenta_test::LogCapture;
using quenta_test::LoopbackTcpFileServer;
using quenta_test::readWholeFile;
using quenta_test::TcpFileScript;
using quenta_test::TcpFileSession;
using quenta_test::TempDir;
using quenta_test::writeWholeFile;
using Reply = TcpFileScript::Reply;

// Every send() of the program passes through here, so a test can see how the bytes were cut into
// calls on one descriptor (the kernel may merge them on the wire).
namespace {
std::mutex g_sendLock;
int g_watchedDescriptor = -1;     // guarded by g_sendLock
std::vector<size_t> g_sendSizes;  // guarded by g_sendLock
}  // namespace

extern "C" ssize_t send(int descriptor, const void* bytes, size_t length, int flags) {
    using SendFunction = ssize_t (*)(int, const void*, size_t, int);
    static const auto real = reinterpret_cast<SendFunction>(dlsym(RTLD_NEXT, "send"));
    const ssize_t sent = real(descriptor, bytes, length, flags);
    std::lock_guard<std::mutex> guard(g_sendLock);
    if (descriptor == g_watchedDescriptor && sent > 0) g_sendSizes.push_back(static_cast<size_t>(sent));
    return sent;
}

namespace {

class TcpFileTest : public ::testing::Test {
  protected:
    void TearDown() override {
        SS_TcpFile_setInactivityLimitMs(SS_TCPFILE_DEFAULT_INACTIVITY_MS);
        SS_TcpFile_setVerdictLimitMs(SS_TCPFILE_DEFAULT_VERDICT_MS);
        SS_TcpFile_setReplyLimitMs(SS_TCPFILE_DEFAULT_REPLY_MS);
    }

    std::string makeFile(const std::string& name, const std::string& content) {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(writeWholeFile(path, content));
        return path;
    }

    SS_TcpFileClientPtr connect(const LoopbackTcpFileServer& server) {
        SS_TcpFileClientPtr client(SS_TcpFileClient_new(server.port(), "127.0.0.1"));
        EXPECT_TRUE(client);
        return client;
    }

    TempDir dir_{"tcpfile-"};
};

std::string bytesOf(std::size_t size) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    return content;
}

// The files in the folder where received files land.
std::vector<std::string> receivedFiles() {
    std::vector<std::string> files;
    const std::string folder = ss_platform_mapPath(SS_TCPFILE_RECEIVED_FOLDER);
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
        files.push_back(entry.path());
    return files;
}

}  // namespace

// The 5-byte a.bin example: exact request bytes, OK reply, close command on release.
TEST_F(TcpFileTest, PutOfTheFiveByteExampleIsExact) {
    LoopbackTcpFileServer server(TcpFileScript{});
    const std::string local = makeFile("a.bin", "HELLO");
    SS_TcpFileClientPtr client = connect(server);
    EXPECT_EQ(0, SS_TcpFileClient_putFile("a.bin", client.get(), local.c_str()));
    EXPECT_EQ(100, _SS_FileSocket_progress(client->fileSocket));
    client.reset();
    const TcpFileSession session = server.finish();
    EXPECT_EQ(std::string("\x01\x00\x00\x00\x05\x00\x00\x00"
                          "a.bin"
                          "\x05\x00\x00\x00"
                          "HELLO",
                          22),
              session.request);
    EXPECT_EQ(std::string("\x04\x00\x00\x00", 4), session.afterReply);
}

// File content goes in 2048-byte sends; integers and the name go one byte per send.
TEST_F(TcpFileTest, ContentIsSentInChunksOf2048) {
    struct Case {
        size_t size;
        std::vector<size_t> contentSends;
    };
    const Case cases[] = {{2048, {2048}}, {2049, {2048, 1}}, {1, {1}}, {6000, {2048, 2048, 1904}}};
    for (const Case& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size));
        LoopbackTcpFileServer server(TcpFileScript{});
        const std::string content = bytesOf(c.size);
        const std::string local = makeFile("chunk.bin", content);
        SS_TcpFileClientPtr client = connect(server);
        {
            std::lock_guard<std::mutex> guard(g_sendLock);
            g_watchedDescriptor = client->fileSocket->socket->descriptor;
            g_sendSizes.clear();
        }
        EXPECT_EQ(0, SS_TcpFileClient_putFile("r.bin", client.get(), local.c_str()));
        std::vector<size_t> expected(4 + 4 + 5 + 4, 1);  // command, name length, name, size
        expected.insert(expected.end(), c.contentSends.begin(), c.contentSends.end());
        {
            std::lock_guard<std::mutex> guard(g_sendLock);
            EXPECT_EQ(expected, g_sendSizes);
            g_watchedDescriptor = -1;
        }
        client.reset();
        const TcpFileSession session = server.finish();
        EXPECT_TRUE(session.requestComplete);
        EXPECT_EQ(content, session.content);
    }
}

TEST_F(TcpFileTest, ErrorReplyIsLoggedAndFailsThePut) {
    LogCapture log;
    TcpFileScript script;
    script.reply = Reply::Error;
    script.text = "abcde";
    LoopbackTcpFileServer server(script);
    const std::string local = makeFile("p.bin", bytesOf(100));
    SS_TcpFileClientPtr client = connect(server);
    EXPECT_EQ(-1, SS_TcpFileClient_putFile("p.bin", client.get(), local.c_str()));
    const std::string written = log.takeNew();
    EXPECT_NE(std::string::npos, written.find("Got command: SS_TCPFILE_CMD_ERROR\n"));
    EXPECT_NE(std::string::npos, written.find("| TCP FILE ERROR:abcde\n"));
    client.reset();
    EXPECT_EQ(le32(4), server.finish().afterReply);  // the connection still works: goodbye is sent
}

// An error text of the longest allowed length (4096 bytes) is read whole and the stream stays in
// step; one byte more, or a declared length of 2^31-1, is an invalid reply: given up at once, without
// draining what the device sends, and without a goodbye on the stream that is out of step.
TEST_F(TcpFileTest, ErrorTextIsCappedAndALongerOneIsAnInvalidReply) {
    {
        TcpFileScript script;
        script.reply = Reply::Error;
        script.text = std::string(2047, 'e') + std::string(SS_TCPFILE_MAX_ERROR_TEXT - 2047, 'X');
        LoopbackTcpFileServer server(script);
        const std::string local = makeFile("p.bin", bytesOf(10));
        SS_TcpFileClientPtr client = connect(server);
        EXPECT_EQ(-1, SS_TcpFileClient_putFile("p.bin", client.get(), local.c_str()));
        EXPECT_EQ(script.text, client->fileSocket->errorText);
        EXPECT_FALSE(client->fileSocket->replyInvalid);
        // The fields after the buffer were not written over.
        EXPECT_EQ(&_SS_FileSocket_waitReadable, client->fileSocket->readableCheck);
        client.reset();
        EXPECT_EQ(le32(4), server.finish().afterReply);
    }
    for (int declared : {SS_TCPFILE_MAX_ERROR_TEXT + 1, 0x7FFFFFFF}) {
        LogCapture log;
        TcpFileScript script;
        script.reply = Reply::Raw;
        script.text = le32(255) + le32(declared) + std::string(SS_TCPFILE_MAX_ERROR_TEXT + 1, 'e');
        LoopbackTcpFileServer server(script);
        const std::string local = makeFile("p.bin", bytesOf(10));
        SS_TcpFileClientPtr client = connect(server);
        EXPECT_EQ(-1, SS_TcpFileClient_putFile("p.bin", client.get(), local.c_str())) << declared;
        EXPECT_TRUE(client->fileSocket->replyInvalid) << declared;
        EXPECT_EQ("", client->fileSocket->errorText);
        EXPECT_NE(std::string::npos,
                  log.takeNew().find("Invalid error text length[" + std::to_string(declared)));
        client.reset();
        EXPECT_EQ("", server.finish().afterReply) << "no goodbye on a stream out of step";
    }
}

// A device that trickles its reply one byte at a time never pauses as long as the idle limit, yet
// is given up once the reply limit after its first byte has passed: it cannot hold the transfer.
TEST_F(TcpFileTest, TrickledReplyIsGivenUpAtTheReplyLimit) {
    LogCapture log;
    SS_TcpFile_setInactivityLimitMs(500);
    SS_TcpFile_setVerdictLimitMs(5000);
    SS_TcpFile_setReplyLimitMs(1000);
    TcpFileScript script;
    script.reply = Reply::Raw;
    script.text = le32(255) + le32(200) + std::string(200, 'e');
    script.trickleMs = 100;
    LoopbackTcpFileServer server(script);
    const std::string local = makeFile("p.bin", bytesOf(10));
    SS_TcpFileClientPtr client = connect(server);
    EXPECT_EQ(-1, SS_TcpFileClient_putFile("p.bin", client.get(), local.c_str()));
    EXPECT_TRUE(client->fileSocket->replyInvalid);
    EXPECT_NE(std::string::npos, log.takeNew().find("Reply not complete within its time"));
    client.reset();
    server.finish();
}

// The same reply at once is read whole: the limits cost a working device nothing.
TEST_F(TcpFileTest, ReplyWithinItsLimitsIsRead) {
    SS_TcpFile_setReplyLimitMs(1000);
    TcpFileScript script;
    script.reply = Reply::Raw;
    script.text = le32(255) + le32(3) + "abc";
    LoopbackTcpFileServer server(script);
    const std::string local = makeFile("p.bin", bytesOf(10));
    SS_TcpFileClientPtr client = connect(server);
    EXPECT_EQ(-1, SS_TcpFileClient_putFile("p.bin", client.get(), local.c_str()));
    EXPECT_EQ("abc", client->fileSocket->errorText);
    EXPECT_FALSE(client->fileSocket->replyInvalid);
    client.reset();
    EXPECT_EQ(le32(4), server.finish().afterReply);
}

TEST_F(TcpFileTest, InvalidCommandFailsThePut) {
    LogCapture log;
    TcpFileScript script;
    script.reply = Reply::Integer;
    script.value = 7;
    LoopbackTcpFileServer server(script);
    const std::string local = makeFile("p.bin", bytesOf(10));
    SS_TcpFileClientPtr client = connect(server);
    EXPECT_EQ(-1, SS_TcpFileClient_putFile("p.bin", client.get(), local.c_str()));
    EXPECT_NE(std::string::npos, log.takeNew().find("| Invalid command[7]!\n"));
}

// A SIZE reply brings a file: it is received into the received-files folder under a name that starts
// with the device's address, the log line names that folder, and the package that was put stays
// exactly as it was. A second file from the same device gets a name of its own.
TEST_F(TcpFileTest, SizeReplyIsReceivedElsewhereAndThePackageIsUnchanged) {
    LogCapture log;
    TcpFileScript script;
    script.reply = Reply::Size;
    script.fileContent = bytesOf(5000);
    LoopbackTcpFileServer server(script);
    const std::string package = bytesOf(3000) + "package tail";
    const std::string local = makeFile("upgrade.quenta", package);
    const auto before = receivedFiles();
    SS_TcpFileClientPtr client = connect(server);
    EXPECT_EQ(0, SS_TcpFileClient_putFile("/tmp/QN_UPGRADE", client.get(), local.c_str()));
    EXPECT_EQ(package, readWholeFile(local));

    const auto after = receivedFiles();
    ASSERT_EQ(before.size() + 1, after.size());
    std::string receivedName;
    for (const auto& file : after) {
        if (std::find(before.begin(), before.end(), file) != before.end()) continue;  // an earlier run's
        EXPECT_EQ(script.fileContent, readWholeFile(file));
        receivedName = std::filesystem::path(file).filename();
    }
    EXPECT_EQ(0u, receivedName.rfind("127.0.0.1_", 0)) << receivedName;
    const std::string written = log.takeNew();
    EXPECT_NE(std::string::npos, written.find("Got command: SS_TCPFILE_CMD_SIZE\n"));
    EXPECT_NE(std::string::npos, written.find("File Size[5000] Transfered [5000]\n"));
    EXPECT_NE(std::string::npos,
              written.find("File received from [127.0.0.1] kept in folder [" +
                           std::string(SS_TCPFILE_RECEIVED_FOLDER) + "] as [" + receivedName + "]\n"))
        << written;
    client.reset();
    EXPECT_EQ(le32(4), server.finish().afterReply);

    LoopbackTcpFileServer again(script);
    SS_TcpFileClientPtr second = connect(again);
    EXPECT_EQ(0, SS_TcpFileClient_putFile("/tmp/QN_UPGRADE", second.get(), local.c_str()));
    EXPECT_EQ(before.size() + 2, receivedFiles().size());
    second.reset();
    again.finish();
}

TEST_F(TcpFileTest, SizeReplyOutOfRangeFailsWithoutReceiving) {
    for (int size : {0, -5, SS_TCPFILE_MAX_RECV_SIZE + 1}) {
        SCOPED_TRACE(size);
        TcpFileScript script;
        script.reply = Reply::SizeOnly;
        script.value = size;
        LoopbackTcpFileServer server(script);
        const std::string local = makeFile("p.bin", bytesOf(64));
        const auto before = receivedFiles();
        SS_TcpFileClientPtr client = connect(server);
        EXPECT_EQ(-1, SS_TcpFileClient_putFile("p.bin", client.get(), local.c_str()));
        EXPECT_EQ(before.size(), receivedFiles().size());
        client.reset();
        EXPECT_EQ(le32(4), server.finish().afterReply);
    }
}

// The server closes the connection in the middle of the content: the put fails.
TEST_F(TcpFileTest, ServerClosingHalfWayFailsThePut) {
    TcpFileScript script;
    script.reply = Reply::CloseMidContent;
    script.value = 1000;
    LoopbackTcpFileServer server(script);
    const std::string local = makeFile("big.bin", bytesOf(4 * 1024 * 1024));
    SS_TcpFileClientPtr client = connect(server);
    EXPECT_EQ(-1, SS_TcpFileClient_putFile("big.bin", client.get(), local.c_str()));
    client.reset();
    EXPECT_EQ(1000, server.finish().contentBytes);
}

// The server ends its side after the request: the reply read meets the end of the stream, the
// connection counts as dead and the release sends nothing more.
TEST_F(TcpFileTest, ReleaseAfterTheConnectionDiedSendsNothing) {
    LogCapture log;
    TcpFileScript script;
    script.reply = Reply::HalfClose;
    LoopbackTcpFileServer server(script);
    const std::string local = makeFile("p.bin", bytesOf(3000));
    SS_TcpFileClientPtr client = connect(server);
    EXPECT_EQ(-1, SS_TcpFileClient_putFile("p.bin", client.get(), local.c_str()));
    const std::string written = log.takeNew();
    EXPECT_NE(std::string::npos, written.find("Socket read error!\n"));
    EXPECT_NE(std::string::npos, written.find("Read int error!\n"));
    client.reset();
    const TcpFileSession session = server.finish();
    EXPECT_TRUE(session.requestComplete);
    EXPECT_EQ("", session.afterReply);
}

TEST_F(TcpFileTest, RefusedInputsSendNothing) {
    LoopbackTcpFileServer server(TcpFileScript{});
    const std::string empty = makeFile("empty.bin", "");
    const std::string good = makeFile("good.bin", "x");
    const std::string longPath = "/" + std::string(300, 'd') + "/f.bin";
    SS_TcpFileClientPtr client = connect(server);
    EXPECT_EQ(-1, SS_TcpFileClient_putFile("r.bin", client.get(), empty.c_str()));  // empty file
    EXPECT_EQ(-1, SS_TcpFileClient_putFile("r.bin", client.get(), dir_.file("missing.bin").c_str()));
    EXPECT_EQ(-1, SS_TcpFileClient_putFile("r.bin", client.get(), longPath.c_str()));
    EXPECT_EQ(-1, SS_TcpFileClient_putFile("", client.get(), good.c_str()));
    EXPECT_EQ(-1, SS_TcpFileClient_putFile(nullptr, client.get(), good.c_str()));
    EXPECT_EQ(-1, SS_TcpFileClient_putFile("r.bin", client.get(), ""));
    EXPECT_EQ(-1, SS_TcpFileClient_putFile("r.bin", nullptr, good.c_str()));
    SS_TcpFileClient bare;
    EXPECT_EQ(-1, SS_TcpFileClient_putFile("r.bin", &bare, good.c_str()));
    client.reset();
    SS_TcpFileClient_free(nullptr);
    EXPECT_EQ(le32(4), server.finish().request);  // only the close command ever went out
}

TEST_F(TcpFileTest, ConnectFailureGivesNull) {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in any = quenta_test::loopbackAddress(0);
    ASSERT_EQ(0, ::bind(probe, reinterpret_cast<const sockaddr*>(&any), sizeof any));
    const int closedPort = quenta_test::boundPort(probe);
    ::close(probe);
    EXPECT_EQ(nullptr, SS_TcpFileClient_new(closedPort, "127.0.0.1"));
}

// A port outside 1..65535 is no port: never the one it wraps to, even where a service listens.
TEST_F(TcpFileTest, PortOutsideItsRangeIsNeverWrapped) {
    LoopbackTcpFileServer server(TcpFileScript{});
    for (int port : {server.port() + 65536, server.port() - 65536, 0, -1, 65536, 0x7FFFFFFF})
        EXPECT_EQ(nullptr, SS_TcpFileClient_new(port, "127.0.0.1")) << port;
    SS_TcpFileClientPtr client = connect(server);  // the service itself is there
    client.reset();
    server.finish();
}

// A peer that keeps the connection open and never gives its verdict: the put gives up after the
// verdict limit instead of waiting for ever.
TEST_F(TcpFileTest, SilentPeerIsGivenUpAfterTheVerdictLimit) {
    LogCapture log;
    SS_TcpFile_setInactivityLimitMs(300);
    SS_TcpFile_setVerdictLimitMs(1200);
    TcpFileScript script;
    script.reply = Reply::Silent;
    LoopbackTcpFileServer server(script);
    const std::string local = makeFile("p.bin", bytesOf(100));
    SS_TcpFileClientPtr client = connect(server);
    EXPECT_EQ(-1, SS_TcpFileClient_putFile("p.bin", client.get(), local.c_str()));
    EXPECT_NE(std::string::npos, log.takeNew().find("transfer given up"));
    client.reset();
    EXPECT_EQ("", server.finish().afterReply);  // given up = dead: no goodbye
}

// A device that takes longer than the content's idle limit to verify and store the package still has
// its verdict read: the idle limit does not cut the wait for the reply.
TEST_F(TcpFileTest, SlowVerdictBeyondTheIdleLimitIsStillRead) {
    SS_TcpFile_setInactivityLimitMs(300);
    SS_TcpFile_setVerdictLimitMs(20000);
    TcpFileScript script;
    script.reply = Reply::Ok;
    script.replyDelayMs = 1500;
    LoopbackTcpFileServer server(script);
    const std::string local = makeFile("p.bin", bytesOf(5000));
    SS_TcpFileClientPtr client = connect(server);
    EXPECT_EQ(0, SS_TcpFileClient_putFile("p.bin", client.get(), local.c_str()));
    client.reset();
    EXPECT_EQ(le32(4), server.finish().afterReply);
}

// Every upload connection probes its peer with TCP keep-alive, so a device that vanishes while the
// tool waits for its verdict ends the wait long before the verdict limit.
TEST_F(TcpFileTest, ConnectionsUseKeepAlive) {
    LoopbackTcpFileServer server(TcpFileScript{});
    SS_TcpFileClientPtr client = connect(server);
    const int descriptor = client->fileSocket->socket->descriptor;
    int on = 0, idle = 0, interval = 0, probes = 0;
    socklen_t size = sizeof(int);
    ASSERT_EQ(0, ::getsockopt(descriptor, SOL_SOCKET, SO_KEEPALIVE, &on, &size));
    ASSERT_EQ(0, ::getsockopt(descriptor, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &size));
    ASSERT_EQ(0, ::getsockopt(descriptor, IPPROTO_TCP, TCP_KEEPINTVL, &interval, &size));
    ASSERT_EQ(0, ::getsockopt(descriptor, IPPROTO_TCP, TCP_KEEPCNT, &probes, &size));
    EXPECT_EQ(1, on);
    EXPECT_LT(idle + interval * probes, SS_TCPFILE_DEFAULT_VERDICT_MS / 1000);
    EXPECT_GE(SS_TCPFILE_DEFAULT_VERDICT_MS, 10 * 60 * 1000);
    client.reset();
    server.finish();
}

// Another thread aborts a put that waits for a silent peer: the put ends, the release sends nothing.
TEST_F(TcpFileTest, AbortFromAnotherThreadEndsTheTransfer) {
    TcpFileScript script;
    script.reply = Reply::Silent;
    LoopbackTcpFileServer server(script);
    const std::string local = makeFile("p.bin", bytesOf(100));
    SS_TcpFileClientPtr client = connect(server);
    std::atomic<int> result{1};
    std::thread worker([&] { result = SS_TcpFileClient_putFile("p.bin", client.get(), local.c_str()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    SS_TcpFileClient_abort(client.get());
    worker.join();
    EXPECT_EQ(-1, result.load());
    client.reset();
    EXPECT_EQ("", server.finish().afterReply);
}

TEST(TcpFileProgress, Percentages) {
    struct Case {
        int size, transferred, expected;
    };
    const Case cases[] = {{100, 50, 50},
                          {0, 0, 0},
                          {-1, 5, 0},
                          {100, 150, 100},
                          {3, 1, 33},
                          {1000, 999, 99},
                          {419430400, 419430400, 100}};
    for (const Case& c : cases) {
        SS_FileSocket record;
        record.size = c.size;
        record.transferred = c.transferred;
        EXPECT_EQ(c.expected, _SS_FileSocket_progress(&record)) << c.size << "/" << c.transferred;
    }
    EXPECT_EQ(0, _SS_FileSocket_progress(static_cast<SS_FileSocket*>(nullptr)));
}

// Another thread watches the progress of a running put, as the window's timer does.
TEST_F(TcpFileTest, ProgressSeenFromAnotherThreadStaysInRange) {
    TcpFileScript script;
    script.keepContent = false;
    LoopbackTcpFileServer server(script);
    const std::string local = makeFile("big.bin", bytesOf(16 * 1024 * 1024));
    SS_TcpFileClientPtr client = connect(server);
    std::atomic<bool> done{false};
    std::vector<int> seen;
    std::thread watcher([&] {
        while (!done.load()) {
            seen.push_back(_SS_FileSocket_progress(client->fileSocket));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    EXPECT_EQ(0, SS_TcpFileClient_putFile("big.bin", client.get(), local.c_str()));
    done = true;
    watcher.join();
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_GE(seen[i], 0);
        EXPECT_LE(seen[i], 100);
        if (i > 0) {
            EXPECT_GE(seen[i], seen[i - 1]);
        }
    }
    EXPECT_EQ(100, _SS_FileSocket_progress(client->fileSocket));
}

namespace {
void xorDecryptor(int length, unsigned char* buffer) {
    for (int i = 0; i < (length & 0xFFF8); ++i) buffer[i] ^= 0x5A;
}
}  // namespace

// A file received under the upgrade receive path has its first kilobyte deciphered by the decryptor
// the engine installs; other paths are kept as received.
TEST_F(TcpFileTest, ReceivedUpgradeFileHeadIsDeciphered) {
    SS_TcpFile_setUploadDecryptor(xorDecryptor);
    const std::string content = bytesOf(3000);
    for (const char* path :
         {"C:\\Work/quenta/upload/QN_UPGRADE/firmware.bin", "C:\\Work/quenta/other/firmware.bin"}) {
        SCOPED_TRACE(path);
        TcpFileScript script;
        script.reply = Reply::None;
        script.sendOnAccept = content;
        LoopbackTcpFileServer server(script);
        SS_TcpFileClientPtr client = connect(server);
        SS_FileSocket* record = client->fileSocket.get();
        std::snprintf(record->path, sizeof record->path, "%s", path);
        record->size = static_cast<int>(content.size());
        EXPECT_EQ(0, _SS_FileSocket_recvFile(record));
        std::string expected = content;
        if (std::string(path).find("QN_UPGRADE") != std::string::npos)
            for (size_t i = 0; i < 1024; ++i) expected[i] = static_cast<char>(expected[i] ^ 0x5A);
        EXPECT_EQ(expected, readWholeFile(ss_platform_mapPath(path)));
    }
    SS_TcpFile_setUploadDecryptor(nullptr);
}

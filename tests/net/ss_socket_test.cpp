// test-labels: threads
// ss_socket over loopback: datagram and fragment sizes, sequence numbers, receives, the invalid-text
// rule, port sharing, error texts, and answers to sends from the listener's own socket.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "ss/ss_socket.h"
#include "tests/support/loopback_peers.h"

using quenta_test::boundPort;
using quenta_test::LogCapture;
using quenta_test::loopbackAddress;
using quenta_test::LoopbackUdpPeer;

namespace {

uint16_t u16At(const std::string& bytes, size_t offset) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[offset]) |
                                 (static_cast<unsigned char>(bytes[offset + 1]) << 8));
}

// A text of `length` letters that shows where each byte came from.
std::string patternText(size_t length) {
    std::string text(length, 'a');
    for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return text;
}

}  // namespace

TEST(SsSocketSend, ShortTextGoesAsOneDatagramWithItsZero) {
    LoopbackUdpPeer peer;
    const sockaddr_in destination = peer.address();
    const std::string text = patternText(6143);  // 6144 bytes with the zero: still one datagram
    ASSERT_EQ(0, SS_Socket_send_plain(&destination, text.c_str(), nullptr));
    ASSERT_TRUE(peer.waitForDatagrams(1, 5000));
    const auto datagrams = peer.datagrams();
    ASSERT_EQ(1u, datagrams.size());
    EXPECT_EQ(6144u, datagrams[0].size());
    EXPECT_EQ(text + std::string(1, '\0'), datagrams[0]);
}

// Long payloads go as fragments: header fields, piece sizes and the reassembled payload.
TEST(SsSocketSend, LongPayloadsGoAsFragments) {
    struct Case {
        size_t payload;
        std::vector<size_t> pieces;
    };
    const Case cases[] = {
        {6145, {1440, 1440, 1440, 1440, 385}},  // a 6144-character text with its zero
        {2880, {1440, 1440}},                   // an exact multiple: the last fragment is never empty
        {1441, {1440, 1}},
        {65535, {}},  // 45 full pieces and 735 bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("payload " + std::to_string(c.payload));
        std::vector<size_t> pieces = c.pieces;
        if (pieces.empty()) {
            pieces.assign(c.payload / 1440, 1440);
            if (c.payload % 1440) pieces.push_back(c.payload % 1440);
        }
        LoopbackUdpPeer peer;
        const sockaddr_in destination = peer.address();
        std::string payload = patternText(c.payload - 1) + std::string(1, '\0');
        if (c.payload == 6145) {
            ASSERT_EQ(0, SS_Socket_send_plain(&destination, payload.c_str(), nullptr));
        } else {
            ASSERT_EQ(0, _SS_Socket_sendMultiData(&destination, static_cast<int>(payload.size()), nullptr,
                                                  payload.data()));
        }
        ASSERT_TRUE(peer.waitForDatagrams(pieces.size(), 10000));
        const auto datagrams = peer.datagrams();
        ASSERT_EQ(pieces.size(), datagrams.size());
        const uint16_t sequence = u16At(datagrams[0], 16);
        std::string joined;
        for (size_t i = 0; i < datagrams.size(); ++i) {
            const std::string& d = datagrams[i];
            ASSERT_EQ(24 + pieces[i], d.size()) << "fragment " << i;
            EXPECT_EQ(0, std::memcmp(d.data(), "__SS_MULTIDATA__", 16));
            EXPECT_EQ(sequence, u16At(d, 16));
            EXPECT_EQ(i, u16At(d, 18));
            EXPECT_EQ(c.payload, u16At(d, 20));
            EXPECT_EQ(pieces[i], u16At(d, 22));
            joined += d.substr(24);
        }
        EXPECT_EQ(payload, joined);
    }
}

TEST(SsSocketSend, PayloadTooLongForTheFragmentFieldsIsRefused) {
    LoopbackUdpPeer peer;
    const sockaddr_in destination = peer.address();
    const std::string payload(65536, 'x');
    EXPECT_EQ(-1, _SS_Socket_sendMultiData(&destination, 65536, nullptr, payload.data()));
    const std::string text(70000, 'y');
    EXPECT_EQ(-1, SS_Socket_send_plain(&destination, text.c_str(), nullptr));
    EXPECT_FALSE(peer.waitForDatagrams(1, 300));
}

TEST(SsSocketSend, InvalidTextsAndDestinationAreRefused) {
    LoopbackUdpPeer peer;
    const sockaddr_in destination = peer.address();
    for (const char* text : {static_cast<const char*>(nullptr), "", "(null)", "NULL"}) {
        EXPECT_EQ(-1, SS_Socket_send_plain(&destination, text, nullptr)) << (text ? text : "null");
    }
    EXPECT_EQ(-1, SS_Socket_send_plain(nullptr, "Action: X\r\n\r\n", nullptr));
    // Neighbours of the invalid texts are ordinary texts.
    EXPECT_EQ(0, SS_Socket_send_plain(&destination, "null", nullptr));
    EXPECT_EQ(0, SS_Socket_send_plain(&destination, "NULL ", nullptr));
    ASSERT_TRUE(peer.waitForDatagrams(2, 5000));
    EXPECT_EQ(2u, peer.datagrams().size());
}

// An address and a port instead of a socket address: the same datagram, from `from`'s port.
TEST(SsSocketSend, SendToHostAndPort) {
    LoopbackUdpPeer peer([](const std::string&) { return std::optional<std::string>("back"); });
    SS_SocketPtr listener = SS_Socket_newUdpServerSocket(0);
    ASSERT_TRUE(listener);
    ASSERT_EQ(0, SS_Socket_sendTo("127.0.0.1", peer.port(), "GetSystemInfo", listener.get()));
    ASSERT_TRUE(peer.waitForDatagrams(1, 5000));
    EXPECT_EQ(std::string("GetSystemInfo", 14), peer.datagrams()[0]);
    listener->waitTimeoutMs = 2000;
    std::optional<std::string> answer;
    SS_Socket_receive_plain(listener.get(), answer);
    EXPECT_EQ(answer, "back");

    EXPECT_EQ(-1, SS_Socket_sendTo(nullptr, peer.port(), "GetSystemInfo", nullptr));
    EXPECT_EQ(-1, SS_Socket_sendTo("127.0.0.1", peer.port(), "", nullptr));
    EXPECT_EQ(1u, peer.datagrams().size());
}

TEST(SsSocketSequence, ConsecutiveAndWrapping) {
    const uint16_t first = _SS_Socket_nextSequence();
    EXPECT_EQ(static_cast<uint16_t>(first + 1), _SS_Socket_nextSequence());
    _SS_Socket_setSequence(65534);
    EXPECT_EQ(65535, _SS_Socket_nextSequence());
    EXPECT_EQ(1000, _SS_Socket_nextSequence());
    EXPECT_EQ(1001, _SS_Socket_nextSequence());

    // Two long payloads one after the other carry consecutive numbers.
    LoopbackUdpPeer peer;
    const sockaddr_in destination = peer.address();
    const std::string payload(3000, 'p');
    _SS_Socket_sendMultiData(&destination, 3000, nullptr, payload.data());
    _SS_Socket_sendMultiData(&destination, 3000, nullptr, payload.data());
    ASSERT_TRUE(peer.waitForDatagrams(6, 5000));
    const auto datagrams = peer.datagrams();
    EXPECT_EQ(1002, u16At(datagrams[0], 16));
    EXPECT_EQ(1003, u16At(datagrams[5], 16));
}

TEST(SsSocketReceive, NothingWaitingGivesZeroAndNoText) {
    SS_SocketPtr listener = SS_Socket_newUdpServerSocket(0);
    ASSERT_TRUE(listener);
    std::optional<std::string> text = std::string("stale");
    EXPECT_EQ(0, SS_Socket_receive_plain(listener.get(), text));
    EXPECT_FALSE(text.has_value());
    EXPECT_EQ(-1, SS_Socket_receive_plain(nullptr, text));
}

TEST(SsSocketReceive, DatagramTextAndSender) {
    SS_SocketPtr listener = SS_Socket_newUdpServerSocket(0);
    ASSERT_TRUE(listener);
    LoopbackUdpPeer peer;
    const std::string message = "Action: GetSystemInfoOK\r\nModel: X1\r\n\r\n";
    ASSERT_TRUE(
        peer.sendRaw(loopbackAddress(boundPort(listener->descriptor)), message + std::string(1, '\0')));
    std::optional<std::string> text;
    for (int i = 0; i < 10 && !text; ++i) SS_Socket_receive_plain(listener.get(), text);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(message, *text);
    EXPECT_EQ("127.0.0.1", listener->addressText);
    EXPECT_EQ(peer.port(), ntohs(listener->address.sin_port));
}

// A datagram longer than the 6144-byte buffer is reported, not handed out cut short; the next one is
// received normally.
TEST(SsSocketReceive, OversizedDatagramIsAnErrorNotATruncatedMessage) {
    LogCapture log;
    SS_SocketPtr listener = SS_Socket_newUdpServerSocket(0);
    ASSERT_TRUE(listener);
    LoopbackUdpPeer peer;
    const sockaddr_in to = loopbackAddress(boundPort(listener->descriptor));
    ASSERT_TRUE(peer.sendRaw(to, std::string(7000, 'z')));
    ASSERT_TRUE(peer.sendRaw(to, std::string(6144, 'k')));

    std::optional<std::string> data;
    int length = -1;
    int result = 0;
    for (int i = 0; i < 10 && result == 0 && !data; ++i)
        result = _SS_Socket_recvUDPData_plain(listener.get(), data, length);
    EXPECT_EQ(-1, result);
    EXPECT_FALSE(data.has_value());
    EXPECT_EQ(-1, listener->state);
    EXPECT_NE(std::string::npos, log.takeNew().find("Receive message error."));

    data.reset();
    for (int i = 0; i < 10 && !data; ++i) _SS_Socket_recvUDPData_plain(listener.get(), data, length);
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(6144, length);
    EXPECT_EQ(std::string(6144, 'k'), *data);
}

// A stream holding "OK\r\n\r\nMORE": the text receive stops after the empty line, keeps one CR LF
// and leaves MORE for the next read.
TEST(SsSocketReceive, TcpTextStopsAtEmptyLineAndLeavesTheRest) {
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in any = loopbackAddress(0);
    ASSERT_EQ(0, ::bind(server, reinterpret_cast<const sockaddr*>(&any), sizeof any));
    ASSERT_EQ(0, ::listen(server, 1));
    const int port = boundPort(server);

    SS_SocketPtr client = _SS_Socket_newClientSocket("127.0.0.1", port, SS_SOCKET_TCP);
    ASSERT_TRUE(client);
    EXPECT_EQ(SS_SOCKET_STATE_CONNECTING, client->state);
    const int peer = ::accept(server, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    const std::string stream = "OK\r\n\r\nMORE";
    ASSERT_EQ(static_cast<ssize_t>(stream.size()), ::send(peer, stream.data(), stream.size(), 0));

    std::optional<std::string> text;
    ASSERT_EQ(0, SS_Socket_receive_plain(client.get(), text));
    EXPECT_EQ("OK\r\n", text.value_or("<none>"));

    ::close(peer);  // the rest, then the end of the stream
    ASSERT_EQ(0, SS_Socket_receive_plain(client.get(), text));
    EXPECT_EQ("MORE", text.value_or("<none>"));
    EXPECT_EQ(-1, SS_Socket_receive_plain(client.get(), text));  // only the end is left
    EXPECT_EQ(-1, client->state);
    ::close(server);
}

TEST(SsSocketClient, ConnectFailureGivesNullAndUdpRecordHoldsTheAddress) {
    LogCapture log;
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in any = loopbackAddress(0);
    ASSERT_EQ(0, ::bind(probe, reinterpret_cast<const sockaddr*>(&any), sizeof any));
    const int closedPort = boundPort(probe);
    ::close(probe);  // nobody listens there now
    EXPECT_FALSE(_SS_Socket_newClientSocket("127.0.0.1", closedPort, SS_SOCKET_TCP));
    EXPECT_NE(std::string::npos, log.takeNew().find("Unable to connect to host [127.0.0.1]\n"));

    SS_SocketPtr udp = _SS_Socket_newClientSocket("127.0.0.9", 5360, SS_SOCKET_UDP);
    ASSERT_TRUE(udp);
    EXPECT_EQ("127.0.0.9", udp->addressText);
    EXPECT_EQ(5360, ntohs(udp->address.sin_port));
    EXPECT_EQ(200, udp->waitTimeoutMs);
    EXPECT_EQ(SS_SOCKET_STATE_CONNECTING, udp->state);
}

// 0.0.0.0, what a failed look-up leaves, is never a destination (Linux would deliver to this host).
TEST(SsSocketClient, UnresolvedAddressIsNeverADestination) {
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in any = loopbackAddress(0);
    ASSERT_EQ(0, ::bind(server, reinterpret_cast<const sockaddr*>(&any), sizeof any));
    ASSERT_EQ(0, ::listen(server, 1));
    EXPECT_FALSE(_SS_Socket_newClientSocket("0.0.0.0", boundPort(server), SS_SOCKET_TCP));
    ::close(server);

    LoopbackUdpPeer peer;
    SS_SocketPtr holder = _SS_Socket_newClientSocket("0.0.0.0", peer.port(), SS_SOCKET_UDP);
    ASSERT_TRUE(holder);
    EXPECT_EQ(-1, SS_Socket_send_plain(&holder->address, "Action: GetSystemInfo\r\n\r\n", nullptr));
    const std::string longText(7000, 'L');  // fragments: the failure is reported, not swallowed
    EXPECT_EQ(-1, SS_Socket_send_plain(&holder->address, longText.c_str(), nullptr));
    EXPECT_FALSE(peer.waitForDatagrams(1, 300));
}

TEST(SsSocketListener, SecondListenerOnAUsedPortBinds) {
    SS_SocketPtr first = SS_Socket_newUdpServerSocket(0);
    ASSERT_TRUE(first);
    const int port = boundPort(first->descriptor);
    SS_SocketPtr second = SS_Socket_newUdpServerSocket(port);
    ASSERT_TRUE(second);
    EXPECT_EQ(port, boundPort(second->descriptor));
    EXPECT_EQ(SS_SOCKET_STATE_LISTENING, second->state);
    EXPECT_EQ("127.0.0.1", second->addressText);
}

TEST(SsSocketErrors, LastErrorIsLoggedWithItsText) {
    struct Case {
        int posixErrno;  // 0: set the Winsock code directly
        int winsockCode;
        const char* expected;
    };
    const Case cases[] = {
        {0, 10101, "Socket[5] Error: Unknow error 10101.\n"},
        {ECONNRESET, 0,
         "Socket[5] Error: The virtual circuit was reset by the remote side executing a hard or abortive "
         "close. "
         "For UDP sockets, the remote host was unable to deliver a previously sent UDP datagram and "
         "responded "
         "with a \"Port Unreachable\" ICMP packet. The application should close the socket because it is no "
         "longer usable.\n"},
        {EAGAIN, 0,
         "Socket[5] Error: The socket is marked as nonblocking and the requested operation would block.\n"},
        {ETIMEDOUT, 0,
         "Socket[5] Error: The connection has been dropped because of a network failure or because the "
         "system on "
         "the other end went down without notice. \n"},
        {0, 10093, "Socket[5] Error: A successful WSAStartup call must occur before using this function. \n"},
        {ENOMEM, 0, "Socket[5] Error: Unknow error 12.\n"},
    };
    LogCapture log;
    SS_SocketPtr record = _SS_Socket_new(SS_SOCKET_TCP);
    record->descriptor = 5;
    for (const Case& c : cases) {
        if (c.posixErrno != 0) {
            errno = c.posixErrno;
        } else {
            ss_platform_setLastSocketError(c.winsockCode);
        }
        EXPECT_EQ(0, _SS_Socket_logLastError(record.get()));
        const std::string written = log.takeNew();
        EXPECT_NE(std::string::npos, written.find(std::string("| ") + c.expected)) << written;
    }
    record->descriptor = -1;  // descriptor 5 is not this record's to close
    EXPECT_EQ(0, _SS_Socket_logLastError(nullptr));
}

// Answers to requests sent from the listener's own socket all reach it, even when the peer answers
// at once. (A throw-away socket bound to the listener's port would take some of them on Linux.)
TEST(SsSocketAnswers, NoAnswerLostWhenSendingFromTheListener) {
    LoopbackUdpPeer peer([](const std::string& datagram) -> std::optional<std::string> {
        return std::string(datagram.c_str()) + "Answer: 1\r\n";
    });
    SS_SocketPtr listener = SS_Socket_newUdpServerSocket(0);
    ASSERT_TRUE(listener);
    const sockaddr_in destination = peer.address();

    constexpr int kRounds = 3000;
    int lost = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::string request = "Action: Ping\r\nRound: " + std::to_string(round) + "\r\n";
        ASSERT_EQ(0, SS_Socket_send_plain(&destination, request.c_str(), listener.get()));
        bool answered = false;
        for (int poll = 0; poll < 10 && !answered; ++poll) {
            std::optional<std::string> text;
            SS_Socket_receive_plain(listener.get(), text);
            answered = text && *text == request + "Answer: 1\r\n";
        }
        if (!answered) ++lost;
    }
    EXPECT_EQ(0, lost);
    EXPECT_TRUE(peer.waitForDatagrams(kRounds, 5000));  // the peer records each request after answering
    EXPECT_EQ(static_cast<size_t>(kRounds), peer.datagrams().size());
}

// The socket shims where Linux and Windows differ, over loopback: who may bind a listener's port,
// what a receive sees after an earlier datagram found no listener, an oversized datagram, and TCP
// keep-alive (SIO_KEEPALIVE_VALS on Windows).
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ss/ss_platform_net.h"
#include "ss/ss_socket.h"

namespace {

constexpr int kFirstPort = 47360;  // a private block, as the listener's 5360-5459
constexpr int kPortCount = 100;

// The listener's way of finding its port: the first of the block that binds.
SS_SocketPtr firstListener(int& port) {
    for (port = kFirstPort; port < kFirstPort + kPortCount; ++port)
        if (SS_SocketPtr socket = SS_Socket_newUdpServerSocket(port)) return socket;
    port = -1;
    return nullptr;
}

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// On Windows SO_REUSEADDR would let a second listener (say a second tool) bind the port the first
// holds and take its datagrams; the listener uses SO_EXCLUSIVEADDRUSE there, so the second one takes
// the next port. On Linux both bind the same port (SO_REUSEADDR), and the newest receives.
TEST(ListenerPort, ASecondListenerTakesTheNextPortWhereThePortIsExclusive) {
    int first = -1;
    SS_SocketPtr one = firstListener(first);
    ASSERT_TRUE(one) << "no free port in " << kFirstPort << "+" << kPortCount;
    int second = -1;
    SS_SocketPtr two = firstListener(second);
    ASSERT_TRUE(two);
    if (SS_PLATFORM_LISTENER_PORT_EXCLUSIVE) {
        EXPECT_GT(second, first);
        // And a plain socket with SO_REUSEADDR, as another program would make, cannot take it either.
        const int intruder = static_cast<int>(::socket(AF_INET, SOCK_DGRAM, 0));
        ASSERT_GE(intruder, 0);
        const int on = 1;
        ::setsockopt(intruder, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
        const sockaddr_in address = loopback(first);
        EXPECT_NE(::bind(intruder, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ss_platform_closeSocket(intruder);
    } else {
        EXPECT_EQ(second, first);
    }
}

// Windows reports the ICMP "port unreachable" of an earlier datagram to the next recvfrom of the
// sending socket; that is no receive error.
TEST(ListenerReceive, ADatagramToAClosedPortLeavesTheListenerReceiving) {
    int port = -1;
    SS_SocketPtr listener = firstListener(port);
    ASSERT_TRUE(listener);
    int closedPort = -1;
    {
        SS_SocketPtr gone = firstListener(closedPort);  // bound, then closed: nobody listens there
        ASSERT_TRUE(gone);
    }
    const sockaddr_in nobody = loopback(closedPort == port ? port + kPortCount : closedPort);
    ASSERT_EQ(SS_Socket_send_plain(&nobody, "GetSystemInfo", listener.get()), 0);

    std::optional<std::string> data;
    int length = 0;
    EXPECT_EQ(_SS_Socket_recvUDPData_plain(listener.get(), data, length), 0);
    EXPECT_FALSE(data);
    EXPECT_NE(listener->state, -1);

    const sockaddr_in self = loopback(port);
    ASSERT_EQ(SS_Socket_send_plain(&self, "hello", nullptr), 0);
    EXPECT_EQ(_SS_Socket_recvUDPData_plain(listener.get(), data, length), 0);
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, std::string("hello", 6));
}

// A datagram longer than the 6144-byte buffer is an error on both systems (Linux would cut it
// silently without MSG_TRUNC), and the next datagram is received whole.
TEST(ListenerReceive, AnOversizedDatagramIsAnErrorNotACutMessage) {
    int port = -1;
    SS_SocketPtr listener = firstListener(port);
    ASSERT_TRUE(listener);
    const sockaddr_in self = loopback(port);
    const std::string big(SS_SOCKET_BUFFER_SIZE + 100, 'x');
    ASSERT_EQ(_SS_Socket_sendUDPData_plain(nullptr, &self, static_cast<int>(big.size()), big.data()), 0);
    std::optional<std::string> data;
    int length = 0;
    EXPECT_EQ(_SS_Socket_recvUDPData_plain(listener.get(), data, length), -1);
    EXPECT_FALSE(data);
    EXPECT_EQ(ss_platform_lastSocketError(), SS_PLATFORM_SOCKET_MESSAGE_SIZE);

    ASSERT_EQ(SS_Socket_send_plain(&self, "next", nullptr), 0);
    EXPECT_EQ(_SS_Socket_recvUDPData_plain(listener.get(), data, length), 0);
    ASSERT_TRUE(data);
    EXPECT_EQ(length, 5);
}

// Upload connections turn on keep-alive probes, so a device that vanishes mid-wait ends the wait.
TEST(KeepAlive, ProbesAreOnForAConnectedStreamAndABadDescriptorIsRefused) {
    ASSERT_EQ(0, ss_platform_startNetwork());
    const int listener = static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_GE(listener, 0);
    sockaddr_in address = loopback(0);
    socklen_t size = sizeof address;
    ASSERT_EQ(0, ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, ::listen(listener, 1));
    ASSERT_EQ(0, ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size));
    const int client = static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_GE(client, 0);
    ASSERT_EQ(0, ::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address));

    int on = 0;
    size = sizeof on;
    ASSERT_EQ(0, ::getsockopt(client, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<char*>(&on), &size));
    EXPECT_EQ(0, on);
    EXPECT_EQ(0, ss_platform_setKeepAlive(client, 30, 10, 6));
    size = sizeof on;
    ASSERT_EQ(0, ::getsockopt(client, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<char*>(&on), &size));
    EXPECT_NE(0, on);
    ss_platform_closeSocket(client);
    ss_platform_closeSocket(listener);

    EXPECT_EQ(-1, ss_platform_setKeepAlive(-1, 30, 10, 6));
    EXPECT_NE(0, ss_platform_lastSocketError());
}

}  // namespace

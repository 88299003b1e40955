// test-labels: threads
// _requestAction against a loopback peer: plain and marked answers, wrong answers skipped, the
// request sent twice when nothing matches, and the exact answer prefix.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "protocol/device_actions.h"
#include "protocol/marked_text.h"
#include "protocol/ss_pair.h"
#include "ss/ss_socket.h"
#include "tests/support/loopback_peers.h"

using quenta_test::boundPort;
using quenta_test::loopbackAddress;
using quenta_test::LoopbackUdpPeer;

namespace {

const std::string kRequestDatagram = std::string("Action: StartUploadService\r\n\r\n") + '\0';
const std::string kAnswer = "Action: StartUploadServiceOK\r\nPort: 6000\r\nTcpSupport: 1\r\n\r\n";

// The receiving socket (a listener on a port the system picks) and a client record for the peer.
struct Exchange {
    explicit Exchange(const LoopbackUdpPeer& peer)
        : receiver(SS_Socket_newUdpServerSocket(0)),
          destination(_SS_Socket_newClientSocket("127.0.0.1", peer.port(), SS_SOCKET_UDP)) {}
    int receiverPort() const { return boundPort(receiver->descriptor); }
    int run(std::string& answerText) {
        return _requestAction(receiver.get(), destination.get(), QNACTION_START_UPLOAD_SERVICE,
                              QNACTION_START_UPLOAD_SERVICE_OK, answerText);
    }
    SS_SocketPtr receiver;
    SS_SocketPtr destination;
};

TEST(RequestAction, AnswersPlainXorAndDes) {
    const struct {
        const char* name;
        std::string sent;
    } cases[] = {
        {"plain", kAnswer},
        {"xor", encodeMarkedText(kAnswer, MARKED_TEXT_XOR)},
        {"des", encodeMarkedText(kAnswer, MARKED_TEXT_DES)},
        {"des with CR LF", encodeMarkedText(kAnswer, MARKED_TEXT_DES) + "\r\n"},
    };
    for (const auto& c : cases) {
        LoopbackUdpPeer peer([&](const std::string&) { return std::optional<std::string>(c.sent); });
        Exchange exchange(peer);
        ASSERT_TRUE(exchange.receiver && exchange.destination);
        std::string answerText;
        EXPECT_EQ(exchange.run(answerText), 0) << c.name;
        EXPECT_EQ(answerText, kAnswer) << c.name;
        // One request, sent with its zero byte; the answer found, no second round.
        const auto datagrams = peer.datagrams();
        ASSERT_EQ(datagrams.size(), 1u) << c.name;
        EXPECT_EQ(datagrams[0], kRequestDatagram) << c.name;
        SS_PairList list;
        stringToPairList(answerText.c_str(), list);
        int port = 0;
        pairListGetInt(QNKEY_PORT, port, &list);
        EXPECT_EQ(port, 6000) << c.name;
    }
}

TEST(RequestAction, WrongAnswerThenTheRightOneInTheSameRound) {
    // Written by this thread after the peer's thread started; atomics make the hand-over visible
    // (the datagram that triggers the callback orders it in fact, but not for the race detector).
    std::atomic<int> receiverPort{-1};
    std::atomic<LoopbackUdpPeer*> peerPointer{nullptr};
    LoopbackUdpPeer peer([&](const std::string&) -> std::optional<std::string> {
        const sockaddr_in to = loopbackAddress(receiverPort.load());
        LoopbackUdpPeer* self = peerPointer.load();
        self->sendRaw(to, std::string("Action: RebootOK\r\n\r\n") + '\0');
        self->sendRaw(to, kAnswer + '\0');
        return std::nullopt;
    });
    peerPointer = &peer;
    Exchange exchange(peer);
    receiverPort = exchange.receiverPort();
    std::string answerText;
    EXPECT_EQ(exchange.run(answerText), 0);
    EXPECT_EQ(answerText, kAnswer);
    EXPECT_EQ(peer.datagrams().size(), 1u);
}

TEST(RequestAction, WrongAnswerFirstRoundRightAnswerSecondRound) {
    std::atomic<int> requests{0};
    LoopbackUdpPeer peer([&](const std::string&) {
        return std::optional<std::string>(++requests == 1 ? "Action: GetSystemInfoOK\r\n\r\n" : kAnswer);
    });
    Exchange exchange(peer);
    std::string answerText;
    EXPECT_EQ(exchange.run(answerText), 0);
    EXPECT_EQ(answerText, kAnswer);
    EXPECT_EQ(peer.datagrams().size(), 2u);
}

TEST(RequestAction, AnswerPrefixRules) {
    const struct {
        std::string sent;
        int result;
    } cases[] = {
        {"Action:StartUploadServiceOK\r\n\r\n", -1},          // no space after the colon
        {"action: StartUploadServiceOK\r\n\r\n", -1},         // case-sensitive
        {"Port: 1\r\nAction: StartUploadServiceOK\r\n", -1},  // must begin with the action line
        {"Action: StartUploadServiceOKAY\r\n\r\n", 0},        // anything after the prefix still matches
        {"Action: StartUploadServiceOK", 0},
    };
    for (const auto& c : cases) {
        LoopbackUdpPeer peer([&](const std::string&) { return std::optional<std::string>(c.sent); });
        Exchange exchange(peer);
        std::string answerText = "untouched";
        EXPECT_EQ(exchange.run(answerText), c.result) << c.sent;
        EXPECT_EQ(answerText, c.result == 0 ? c.sent : "untouched") << c.sent;
        // Without a match the request goes out in both rounds.
        EXPECT_EQ(peer.datagrams().size(), c.result == 0 ? 1u : 2u) << c.sent;
    }
}

TEST(RequestAction, NoAnswerGivesMinusOneAfterTwoRequests) {
    LoopbackUdpPeer peer;  // records, never answers
    Exchange exchange(peer);
    std::string answerText;
    EXPECT_EQ(exchange.run(answerText), -1);
    EXPECT_TRUE(answerText.empty());
    const auto datagrams = peer.datagrams();
    ASSERT_EQ(datagrams.size(), 2u);
    EXPECT_EQ(datagrams[1], kRequestDatagram);
}

TEST(RequestAction, InvalidRequestOrMissingSocketsSendNothingUseful) {
    LoopbackUdpPeer peer([](const std::string&) { return std::optional<std::string>(kAnswer); });
    Exchange exchange(peer);
    std::string answerText;
    // An invalid request name is never sent.
    EXPECT_EQ(_requestAction(exchange.receiver.get(), exchange.destination.get(), "NULL",
                             QNACTION_START_UPLOAD_SERVICE_OK, answerText),
              -1);
    EXPECT_TRUE(peer.datagrams().empty());
    // No destination: nothing sent, nothing received.
    EXPECT_EQ(_requestAction(exchange.receiver.get(), nullptr, QNACTION_START_UPLOAD_SERVICE,
                             QNACTION_START_UPLOAD_SERVICE_OK, answerText),
              -1);
    EXPECT_TRUE(peer.datagrams().empty());
    // No receiving socket: the request still goes out (from a throw-away socket), no answer is read.
    EXPECT_EQ(_requestAction(nullptr, exchange.destination.get(), QNACTION_START_UPLOAD_SERVICE,
                             QNACTION_START_UPLOAD_SERVICE_OK, answerText),
              -1);
    EXPECT_EQ(peer.datagrams().size(), 2u);
}

TEST(RequestAction, ConcurrentExchangesKeepTheirOwnAnswers) {
    // Two jobs at once, each with its own socket and device, as the upload workers run them.
    auto answerWith = [](int port) {
        return [port](const std::string&) {
            return std::optional<std::string>(encodeMarkedText(
                buildActionMessage(QNACTION_START_UPLOAD_SERVICE_OK, {{QNKEY_PORT, std::to_string(port)}}),
                MARKED_TEXT_DES));
        };
    };
    LoopbackUdpPeer first(answerWith(7001)), second(answerWith(7002));
    Exchange a(first), b(second);
    std::string textA, textB;
    int resultA = -2, resultB = -2;
    std::thread other([&] { resultB = b.run(textB); });
    resultA = a.run(textA);
    other.join();
    EXPECT_EQ(resultA, 0);
    EXPECT_EQ(resultB, 0);
    EXPECT_NE(textA.find("Port: 7001"), std::string::npos) << textA;
    EXPECT_NE(textB.find("Port: 7002"), std::string::npos) << textB;
}

}  // namespace

// Reading a GetSystemInfoOK received on a private port: plain and marked answers, texts that are
// not an action, and other actions.
#include "engine/device_query.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/marked_text.h"

namespace {

const std::string kAnswer =
    "Action: GetSystemInfoOK\r\nIP: 10.0.0.7\r\nModel: QN-H200\r\nSoftVersion: 2.3.9\r\n"
    "HardVersion: HW-1.0\r\nKernelVersion: 3.10.108\r\nSerialNum: QNT2H200007\r\nMaster: 3\r\n"
    "Slave: 1\r\nTcpSupport: yes\r\n\r\n";

}  // namespace

TEST(ParseSystemInfoAnswer, PlainAndMarkedAnswersGiveTheDevicesValues) {
    for (int kind : {MARKED_TEXT_NONE, MARKED_TEXT_XOR, MARKED_TEXT_DES}) {
        const std::string datagram = encodeMarkedText(kAnswer, kind);
        ASSERT_EQ(kind == MARKED_TEXT_NONE, datagram == kAnswer);
        std::optional<DeviceInfo> info = parseSystemInfoAnswer(datagram);
        ASSERT_TRUE(info) << "kind " << kind;
        EXPECT_EQ(info->ip, "10.0.0.7");
        EXPECT_EQ(info->model, "QN-H200");
        EXPECT_EQ(info->softVersion, "2.3.9");
        EXPECT_EQ(info->hardVersion, "HW-1.0");
        EXPECT_EQ(info->kernelVersion, "3.10.108");
        EXPECT_EQ(info->serialNum, "QNT2H200007");
        EXPECT_EQ(info->master, 3);
        EXPECT_EQ(info->slave, 1);
        EXPECT_EQ(info->tcpSupport, 1);
        EXPECT_FALSE(info->uploadPath);
    }
    // The action is compared over the length of "GetSystemInfoOK"; absent keys stay empty.
    std::optional<DeviceInfo> longer = parseSystemInfoAnswer("Action: GetSystemInfoOKAY\r\n\r\n");
    ASSERT_TRUE(longer);
    EXPECT_FALSE(longer->ip);
    EXPECT_EQ(longer->master, -1);
}

TEST(ParseSystemInfoAnswer, OtherTextsGiveNothing) {
    const std::string notAnswers[] = {
        "",
        "IP: 10.0.0.7\r\nAction: GetSystemInfoOK\r\n\r\n",  // a text that does not start with "Action"
        "action: GetSystemInfoOK\r\n\r\n",
        "Action: GetSystemInfo\r\n\r\n",  // the request itself, and other actions
        "Action: RebootOK\r\nIP: 10.0.0.7\r\n\r\n",
        "Action: UpdateIPAddress\r\nIP: 10.0.0.7,10.0.0.8\r\n\r\n",
        "Action: \r\n\r\n",
        encodeMarkedText("Action: RebootOK\r\n\r\n", MARKED_TEXT_XOR),
        encodeMarkedText("SoftVersion: 2.3.9\r\n\r\n", MARKED_TEXT_DES),
        "a7d3c9e0f216",  // a marker without payload is taken as plain text
    };
    for (const std::string& text : notAnswers) EXPECT_FALSE(parseSystemInfoAnswer(text)) << text;
}

// An "IP" that is no usable address is dropped: the answer then names no device (no record, no row,
// no destination), whatever else it carries.
TEST(ParseSystemInfoAnswer, AnUnusableIpIsDroppedAndTheRestKept) {
    for (const char* ip : {"fw-sink", "10.0.0.007", "167772167", "10.0.7", "10.0.0.263", "127.0.0.1",
                           "224.0.0.1", "255.255.255.255", "0.0.0.7"}) {
        std::string text = kAnswer;
        text.replace(text.find("10.0.0.7"), 8, ip);
        std::optional<DeviceInfo> info = parseSystemInfoAnswer(text);
        ASSERT_TRUE(info) << ip;
        EXPECT_FALSE(info->ip) << ip;
        EXPECT_EQ(info->serialNum, "QNT2H200007") << ip;
    }
}

// Pair lists: message parsing rules, value readers, set/remove, and the text helpers.
#include "protocol/ss_pair.h"

#include <gtest/gtest.h>

#include <climits>

#include "protocol/device_actions.h"

namespace {

SS_PairList parse(const char* text) {
    SS_PairList list;
    EXPECT_EQ(stringToPairList(text, list), 0);
    return list;
}

std::string describe(const SS_PairList& list) {
    std::string text;
    for (const SS_Pair& pair : list) text += "[" + pair.key + "=" + pair.value + "]";
    return text;
}

TEST(StringToPairList, ParsingRules) {
    const struct {
        const char* text;
        const char* pairs;
    } cases[] = {
        {"Action: GetSystemInfoOK\r\nModel: X\r\nModel: Y\r\n\r\n", "[Action=GetSystemInfoOK][Model=Y]"},
        {"Model: X\r\nIP: 1.2.3.4\r\nSoftVersion: 2\r\nIP:\r\n\r\n", "[Model=X][SoftVersion=2]"},
        {"IP: 1.2.3.4\r\nIP\r\n", ""},                                  // a key alone removes too
        {"IP: 1.2.3.4\r\nIP: \t \r\nIP: 5.6.7.8\r\n", "[IP=5.6.7.8]"},  // removed, then appended again
        {"UploadPath: /a:b\r\n", "[UploadPath=/a:b]"},                  // only the first colon splits
        {"UploadPath: C:\\Work/x.bin\r\n", "[UploadPath=C:\\Work/x.bin]"},
        {"  \tModel \t:  \v QN 100 \f \r\n", "[Model=QN 100]"},        // blanks around key, colon, value
        {"A: 1\nB: 2\rC: 3\r\n\r\n\n\nD: 4", "[A=1][B=2][C=3][D=4]"},  // lone LF and lone CR end lines
        {": value\r\n   \r\nK: v\r\n", "[K=v]"},                       // no key: ignored
        {"k: v\r\nK: w\r\n", "[k=v][K=w]"},                            // keys are case-sensitive
        {"Action:GetSystemInfo\r\n", "[Action=GetSystemInfo]"},
        {"Port: 6000\r\nAction: StartUploadServiceOK\r\n", "[Port=6000][Action=StartUploadServiceOK]"},
        {"\r\n\r\n", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(describe(parse(c.text)), c.pairs) << c.text;
}

TEST(StringToPairList, MergesIntoAnExistingList) {
    SS_PairList list = parse("A: 1\r\nB: 2\r\n");
    stringToPairList("B: 3\r\nC: 4\r\nA:\r\n", list);
    EXPECT_EQ(describe(list), "[B=3][C=4]");
    stringToPairList(nullptr, list);
    stringToPairList("", list);
    EXPECT_EQ(describe(list), "[B=3][C=4]");
}

TEST(PairListGetString, InvalidValuesReadAsMissing) {
    const SS_PairList list = parse("A: (null)\r\nB: NULL\r\nC: null\r\nD: (NULL)\r\nE: x\r\n");
    const struct {
        const char* key;
        std::optional<std::string> value;
    } cases[] = {{"A", std::nullopt}, {"B", std::nullopt}, {"C", "null"},       {"D", "(NULL)"},
                 {"E", "x"},          {"e", std::nullopt}, {"F", std::nullopt}, {nullptr, std::nullopt}};
    for (const auto& c : cases) {
        std::optional<std::string> out = "stale";
        EXPECT_EQ(pairListGetString(&list, c.key, out), 0);
        EXPECT_EQ(out, c.value) << (c.key ? c.key : "null");
    }
    std::optional<std::string> out = "stale";
    pairListGetString(nullptr, "E", out);
    EXPECT_FALSE(out);
}

TEST(PairListGetInt, DecimalPrefixOrMinusOne) {
    const SS_PairList list = parse(
        "A: 42\r\nB: -7\r\nC: +13x\r\nD: abc\r\nE: 12abc\r\nF: 99999999999\r\nG: -99999999999\r\n"
        "H: NULL\r\nI: --3\r\n");
    const struct {
        const char* key;
        int value;
    } cases[] = {{"A", 42},      {"B", -7},      {"C", 13}, {"D", 0}, {"E", 12},
                 {"F", INT_MAX}, {"G", INT_MIN}, {"H", -1}, {"I", 0}, {"Missing", -1}};
    for (const auto& c : cases) {
        int out = 12345;
        EXPECT_EQ(pairListGetInt(c.key, out, &list), 0);
        EXPECT_EQ(out, c.value) << c.key;
    }
    int out = 0;
    pairListGetInt("A", out, nullptr);
    EXPECT_EQ(out, -1);
}

TEST(PairListGetBool, FirstNonBlankCharacter) {
    const struct {
        const char* text;
        int value;
    } cases[] = {{"yes", 1}, {"Yes", 1},   {"true", 1}, {"TRUE", 1},  {"1", 1},  {" \t y", 1}, {"0", 0},
                 {"no", 0},  {"false", 0}, {"", 0},     {nullptr, 0}, {"  ", 0}, {"2", 0},     {"on", 0}};
    for (const auto& c : cases) EXPECT_EQ(pairListGetBool(c.text), c.value) << (c.text ? c.text : "null");
}

TEST(GetTcpSupport, ReadsTheKeyOrZero) {
    const struct {
        const char* text;
        int value;
    } cases[] = {{"TcpSupport: yes\r\n", 1},  {"TcpSupport: true\r\n", 1}, {"TcpSupport: 1\r\n", 1},
                 {"TcpSupport: 0\r\n", 0},    {"TcpSupport: no\r\n", 0},   {"TcpSupport: false\r\n", 0},
                 {"TcpSupport: NULL\r\n", 0}, {"Port: 1\r\n", 0}};
    for (const auto& c : cases) {
        const SS_PairList list = parse(c.text);
        int out = 7;
        EXPECT_EQ(getTcpSupport(out, &list), 0);
        EXPECT_EQ(out, c.value) << c.text;
    }
    int out = 7;
    getTcpSupport(out, nullptr);
    EXPECT_EQ(out, 0);
}

TEST(PairListSet, SetReplaceRemove) {
    SS_PairList list;
    EXPECT_EQ(pairListSet(nullptr, list, "v"), -1);
    EXPECT_EQ(pairListSet("", list, "v"), 0);  // an empty key adds nothing
    EXPECT_TRUE(list.empty());
    pairListSet("A", list, "1");
    pairListSet("B", list, "2");
    pairListSet("A", list, "3");  // replaced in place
    EXPECT_EQ(describe(list), "[A=3][B=2]");
    pairListSet("A", list, nullptr);  // absent value removes
    EXPECT_EQ(describe(list), "[B=2]");
    EXPECT_EQ(pairListRemove(list, nullptr), -1);
    EXPECT_EQ(pairListRemove(list, "missing"), 0);
    list.push_back({"B", "dup"});  // a hand-made duplicate: remove takes every pair of the key
    EXPECT_EQ(pairListRemove(list, "B"), 0);
    EXPECT_TRUE(list.empty());
}

TEST(IsValidText, WholeTextComparison) {
    EXPECT_EQ(isValidText(nullptr), 0);
    EXPECT_EQ(isValidText(""), 0);
    EXPECT_EQ(isValidText("(null)"), 0);
    EXPECT_EQ(isValidText("NULL"), 0);
    EXPECT_EQ(isValidText("null"), 1);
    EXPECT_EQ(isValidText("NULL "), 1);
    EXPECT_EQ(isValidText(" "), 1);
}

TEST(TextHelpers, TrimString) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"  a b \t", "a b"}, {"\t\n\v\f\r ", ""}, {"", ""}, {"x", "x"}, {"\x01x\x0e", "\x01x\x0e"}};
    for (const auto& c : cases) {
        std::string text = c.in;
        trimString(text);
        EXPECT_EQ(text, c.out) << c.in;
    }
}

TEST(TextHelpers, SplitString) {
    using V = std::vector<std::string>;
    EXPECT_EQ(splitString("1.2.3.4,5.6.7.8", ","), (V{"1.2.3.4", "5.6.7.8"}));
    EXPECT_EQ(splitString(",,a,,b,", ","), (V{"a", "b"}));
    EXPECT_EQ(splitString("a; b;c", "; "), (V{"a", "b", "c"}));
    EXPECT_EQ(splitString(",,,", ","), V{});
    EXPECT_EQ(splitString("", ","), V{});
    EXPECT_EQ(splitString(nullptr, ","), V{});
    EXPECT_EQ(splitString("abc", ""), V{"abc"});
}

TEST(TextHelpers, SplitKeyValueAndDupStringN) {
    std::optional<std::string> key, value;
    splitKeyValue(" Key : a:b ", key, value);
    EXPECT_EQ(key, "Key");
    EXPECT_EQ(value, "a:b");
    splitKeyValue("Key", key, value);
    EXPECT_EQ(key, "Key");
    EXPECT_FALSE(value);
    splitKeyValue(" : v", key, value);
    EXPECT_FALSE(key);
    EXPECT_EQ(value, "v");
    EXPECT_EQ(dupStringN("abcdef", 3), "abc");
    EXPECT_EQ(dupStringN("ab", 10), "ab");
    EXPECT_FALSE(dupStringN("ab", 0));
    EXPECT_FALSE(dupStringN(nullptr, 3));
}

TEST(TextHelpers, FormatAndAppend) {
    EXPECT_EQ(formatString("%s: %d", "Port", 6000), "Port: 6000");
    const std::string big(1000, 'z');  // longer than the first 256-byte attempt
    EXPECT_EQ(formatString("<%s>", big.c_str()), "<" + big + ">");
    std::string text;
    appendFormat(text, "%s: %s\r\n", "Action", "X");
    appendFormat(text, "\r\n");
    EXPECT_EQ(text, "Action: X\r\n\r\n");
    appendFormat(text, "100%%");
    EXPECT_EQ(text, "Action: X\r\n\r\n100%");
    appendFormat(text, nullptr);
    EXPECT_EQ(text, "Action: X\r\n\r\n100%");
}

TEST(DeviceActions, RequestsAreByteExact) {
    EXPECT_EQ(buildActionRequest(QNACTION_GET_SYSTEM_INFO), "Action: GetSystemInfo\r\n\r\n");
    EXPECT_EQ(buildActionRequest(QNACTION_GET_SYSTEM_INFO).size() + 1, 26u);  // datagram with its zero byte
    EXPECT_EQ(buildActionRequest(QNACTION_START_UPLOAD_SERVICE), "Action: StartUploadService\r\n\r\n");
    EXPECT_EQ(buildGetModelIPList("a7d3c9e0f215ffff", "QN-1,QN-2"),
              "Action: GetModelIPList\r\nAuth: a7d3c9e0f215ffff\r\nAccount: QN-1,QN-2\r\n\r\n");
    const SS_PairList fields = {{"Port", "6000"}, {"Skip", "NULL"}, {"TcpSupport", "1"}};
    const std::string answer = buildActionMessage(QNACTION_START_UPLOAD_SERVICE_OK, fields);
    EXPECT_EQ(answer, "Action: StartUploadServiceOK\r\nPort: 6000\r\nTcpSupport: 1\r\n\r\n");
    EXPECT_EQ(describe(parse(answer.c_str())), "[Action=StartUploadServiceOK][Port=6000][TcpSupport=1]");
}

TEST(DeviceActions, ListenerComparesFifteenCharacters) {
    EXPECT_TRUE(listenerActionIs("GetSystemInfoOK", QNACTION_GET_SYSTEM_INFO_OK));
    EXPECT_TRUE(listenerActionIs("UpdateIPAddressMore", QNACTION_UPDATE_IP_ADDRESS));
    EXPECT_FALSE(listenerActionIs("GetSystemInfo", QNACTION_GET_SYSTEM_INFO_OK));
    EXPECT_FALSE(listenerActionIs("getSystemInfoOK", QNACTION_GET_SYSTEM_INFO_OK));
    EXPECT_FALSE(listenerActionIs(nullptr, QNACTION_GET_SYSTEM_INFO_OK));
}

TEST(DeviceActions, SystemInfoRowNeedsSixKeys) {
    const char* full =
        "Action: GetSystemInfoOK\r\nIP: 10.0.0.2\r\nModel: QN-1\r\nHardVersion: H1\r\nKernelVersion: K1\r\n"
        "SoftVersion: S1\r\nSerialNum: QN1A0123456\r\n\r\n";
    EXPECT_TRUE(systemInfoHasRequiredKeys(parse(full)));
    for (const char* key : kGetSystemInfoOkRequiredKeys) {
        SS_PairList list = parse(full);
        pairListSet(key, list, "NULL");
        EXPECT_FALSE(systemInfoHasRequiredKeys(list)) << key;
        pairListRemove(list, key);
        EXPECT_FALSE(systemInfoHasRequiredKeys(list)) << key;
    }
}

}  // namespace

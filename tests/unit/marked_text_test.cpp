// Auth token, hexToBytes and decodeMarkedText (both forms, every refusal), with the sender's
// encodeMarkedText as the other side.
#include "protocol/marked_text.h"

#include <gtest/gtest.h>

#include "protocol/des_variant.h"

namespace {

std::string hexOf(const std::vector<uint8_t>& bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text.push_back(kHex[b >> 4]);
        text.push_back(kHex[b & 15]);
    }
    return text;
}

TEST(AuthToken, IsMarkerPlusMd5OfThePlainConcatenation) {
    // Expected digests computed independently: md5("k3x9q2m7v4t8w1" "7c31d05" "GetModelIPList" account).
    const struct {
        std::string account;
        const char* digest;
    } cases[] = {
        {"QN-100,QN-200", "7091f054189158e2af60d9afc5a8f805"},
        {"A", "834946a795a80194e2de4a15dc432b9b"},
        {"\xb6\xe0\xc3\xbd\xcc\xe5", "8088e57bb89a73ebcdb762a97e41231a"},  // GBK bytes are hashed as they are
    };
    for (const auto& c : cases) {
        const std::optional<std::string> token = makeAuthToken(c.account.c_str());
        ASSERT_TRUE(token) << c.account;
        EXPECT_EQ(*token, std::string("a7d3c9e0f215") + c.digest);
        ASSERT_EQ(token->size(), size_t(kAuthTokenLength));
        for (size_t i = 12; i < token->size(); ++i) {
            const char ch = (*token)[i];
            EXPECT_TRUE((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f')) << *token;
        }
    }
    // With a separator between the salts the digest would have been 806cc182...: not what we make.
    EXPECT_NE(*makeAuthToken("A"), "a7d3c9e0f215806cc182248339bbc9d089f787e02755");
    EXPECT_NE(*makeAuthToken("A,B"), *makeAuthToken("AB"));
}

TEST(AuthToken, InvalidAccountsGiveNoToken) {
    for (const char* account : {static_cast<const char*>(nullptr), "", "NULL", "(null)"}) {
        EXPECT_FALSE(makeAuthToken(account)) << (account ? account : "null");
    }
    EXPECT_TRUE(makeAuthToken("null"));
    EXPECT_TRUE(makeAuthToken("NULL,X"));
}

TEST(HexToBytes, DecodingRules) {
    const struct {
        const char* text;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {nullptr, {}},
        {"", {}},
        {"0", {}},               // a lone odd character is ignored
        {"0aFf", {0x0a, 0xff}},  // both cases of the hex letters
        {"abc", {0xab}},         // final odd character ignored
        {"12\r\n", {0x12}},      // CR/LF dropped from the end
        {"12\n\r\n\r", {0x12}},
        {"\r\n", {}},
        {"1\r\n2", {0xd6, 0x32}},  // inside the text CR and LF count as x - 'A' + 10
        {"0G", {0x10}},            // 'G' - 'A' + 10 = 16, kept to 8 bits
        {"G0", {0x00}},
        {"zz", {uint8_t((('z' - 'A' + 10) << 4) | ('z' - 'A' + 10))}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hexToBytes(c.text), c.bytes) << (c.text ? c.text : "null");
    }
}

TEST(DecodeMarkedText, InvalidAndPlainTextsAreNotDecoded) {
    const char* texts[] = {nullptr,
                           "",
                           "NULL",
                           "(null)",
                           "NULLa7d3c9e0f216082a",
                           "Action: GetSystemInfoOK\r\n",
                           "A7D3C9E0F216082a",
                           "a7d3c9e0f21",
                           "a7d3c9e0f217082a"};
    for (const char* text : texts) {
        int kind = 99;
        EXPECT_FALSE(decodeMarkedText(text, kind)) << (text ? text : "null");
        EXPECT_EQ(kind, MARKED_TEXT_NONE) << (text ? text : "null");
    }
}

TEST(DecodeMarkedText, XorForm) {
    int kind = 0;
    // 'A' ^ 0x49 = 0x08, 'c' ^ 0x49 = 0x2a.
    EXPECT_EQ(decodeMarkedText("a7d3c9e0f216082a", kind), "Ac");
    EXPECT_EQ(kind, MARKED_TEXT_XOR);
    EXPECT_EQ(decodeMarkedText("a7d3c9e0f216082a\r\n", kind), "Ac");  // trailing CR LF ignored
    EXPECT_EQ(decodeMarkedText("a7d3c9e0f216082a2", kind), "Ac");     // odd trailing digit ignored
    EXPECT_EQ(decodeMarkedText("a7d3c9e0f216082A", kind), "Ac");      // upper-case payload digits
    // 0x49 decodes to NUL: only the bytes before it are kept.
    EXPECT_EQ(decodeMarkedText("a7d3c9e0f21608492a", kind), "A");
    EXPECT_EQ(decodeMarkedText("a7d3c9e0f21649082a", kind), "");
    // Empty payload: no result, kind 2 (the caller keeps the raw text).
    kind = 0;
    EXPECT_FALSE(decodeMarkedText("a7d3c9e0f216", kind));
    EXPECT_EQ(kind, MARKED_TEXT_XOR);
    EXPECT_FALSE(decodeMarkedText("a7d3c9e0f216\r\n", kind));
    EXPECT_EQ(kind, MARKED_TEXT_XOR);
}

TEST(DecodeMarkedText, DesForm) {
    int kind = 0;
    // Empty payload: empty text (fuzzing regression: the empty payload once reached memcpy with a null
    // source, caught by UBSan).
    EXPECT_EQ(decodeMarkedText("a7d3c9e0f215", kind), "");
    EXPECT_EQ(kind, MARKED_TEXT_DES);
    const std::string answer = "Action: StartUploadServiceOK\r\nPort: 6000\r\nTcpSupport: 1\r\n\r\n";
    EXPECT_EQ(decodeMarkedText(encodeMarkedText(answer, MARKED_TEXT_DES).c_str(), kind), answer);
    EXPECT_EQ(kind, MARKED_TEXT_DES);
    EXPECT_EQ(decodeMarkedText((encodeMarkedText(answer, MARKED_TEXT_DES) + "\r\n").c_str(), kind), answer);
    // 9 characters go out as two zero-filled blocks and come back as the 9 characters.
    const std::string nine = encodeMarkedText("123456789", MARKED_TEXT_DES);
    EXPECT_EQ(nine.size(), size_t(12 + 32));
    EXPECT_EQ(decodeMarkedText(nine.c_str(), kind), "123456789");
    // 16 bytes of text: both blocks are decoded.
    EXPECT_EQ(decodeMarkedText(encodeMarkedText("ABCDEFGHIJKLMNOP", MARKED_TEXT_DES).c_str(), kind),
              "ABCDEFGHIJKLMNOP");
    // A payload that is not whole blocks is zero-filled before decryption: the result is whatever the
    // cipher gives for it, cut at its first NUL, and never longer than the rounded length.
    const std::optional<std::string> partial = decodeMarkedText("a7d3c9e0f2150102030405", kind);
    ASSERT_TRUE(partial);
    EXPECT_LE(partial->size(), 8u);
}

TEST(DecodeMarkedText, DesFormMatchesTheCipherBlockByBlock) {
    // The payload is the sender's encryption of the zero-filled text: check against desEncrypt directly.
    std::vector<uint8_t> block = {'G', 'e', 't', 0, 0, 0, 0, 0};
    std::vector<uint8_t> cipher(8);
    desEncrypt(block.data(), 8, cipher.data());
    int kind = 0;
    EXPECT_EQ(decodeMarkedText(("a7d3c9e0f215" + hexOf(cipher)).c_str(), kind), "Get");
}

TEST(DecodeMarkedText, LongDesPayloadsAreRefusedInsteadOfWrapping) {
    // The rounded length is 16 bits wide: up to 65528 decoded bytes are handled; longer payloads
    // (whose rounding would wrap to a small block) are refused, with kind 1.
    int kind = 0;
    const std::string longest(65528, 'x');
    EXPECT_EQ(decodeMarkedText(encodeMarkedText(longest, MARKED_TEXT_DES).c_str(), kind), longest);
    for (size_t n : {65529u, 65530u, 65535u, 65536u, 70001u}) {
        const std::string text = "a7d3c9e0f215" + std::string(2 * n, '1');
        kind = 0;
        EXPECT_FALSE(decodeMarkedText(text.c_str(), kind)) << n;
        EXPECT_EQ(kind, MARKED_TEXT_DES) << n;
    }
    // The XOR form has no such limit.
    const std::string big(70000, 'y');
    EXPECT_EQ(decodeMarkedText(encodeMarkedText(big, MARKED_TEXT_XOR).c_str(), kind), big);
}

TEST(EncodeMarkedText, ShapesOfBothForms) {
    EXPECT_EQ(encodeMarkedText("Ac", MARKED_TEXT_XOR), "a7d3c9e0f216082a");
    EXPECT_EQ(encodeMarkedText("", MARKED_TEXT_DES), "a7d3c9e0f215");
    EXPECT_EQ(encodeMarkedText("12345678", MARKED_TEXT_DES).size(), size_t(12 + 16));
    EXPECT_EQ(encodeMarkedText("plain", MARKED_TEXT_NONE), "plain");
}

}  // namespace

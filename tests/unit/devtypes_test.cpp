// Device type catalogue: every rule of the classifier table, its edge cases, and the records.
#include "devtypes/devtypes.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <string>

namespace {

// A serial number whose characters from the fourth on start with `code`, padded to 11 characters.
std::string serial(const std::string& code, const std::string& prefix = "QNX") {
    std::string text = prefix + code;
    while (text.size() < 11) text.push_back('9');
    return text;
}

TEST(ClassifySerialNumber, EveryRowOfTheTable) {
    const struct {
        const char* code;
        int type;
    } cases[] = {
        {"0", 4},     {"1", 1},     {"2", 2},    {"3", 2},     {"4", 2},     {"401", 29},  {"400", 2},
        {"40", 2},    {"5", 3},     {"501", 6},  {"502", 3},   {"6", 7},     {"7", 8},     {"800", 11},
        {"801", 9},   {"802", 12},  {"803", 13}, {"8040", 14}, {"8041", 37}, {"8042", 0},  {"805", 15},
        {"806", 25},  {"807", 26},  {"808", 0},  {"81", 0},    {"9", 10},    {"A080", 42}, {"A081", 37},
        {"A082", 37}, {"A083", 37}, {"A084", 1}, {"A09", 13},  {"A09Z", 13}, {"A00", 1},   {"A0Z", 1},
        {"A11", 32},  {"A10", 0},   {"A12", 0},  {"A2", 2},    {"A3", 2},    {"A4", 2},    {"A5", 3},
        {"A6", 28},   {"A70", 20},  {"A71", 21}, {"A72", 22},  {"A73", 38},  {"A74", 39},  {"A75", 40},
        {"A76", 43},  {"A77", 0},   {"A8", 29},  {"A90", 27},  {"A91", 30},  {"A92", 31},  {"A93", 33},
        {"A94", 0},   {"AA0", 41},  {"AA1", 1},  {"AA2", 44},  {"AA3", 0},   {"AB", 0},    {"B00", 16},
        {"B01", 17},  {"B02", 18},  {"B03", 19}, {"B04", 0},   {"C00", 20},  {"C01", 21},  {"C02", 22},
        {"C03", 36},  {"C04", 0},   {"D00", 34}, {"D01", 35},  {"D02", 23},  {"DZ", 23},   {"E", 1},
        {"F00", 1},   {"F01", 1},   {"F02", 29}, {"F03", 0},   {"G", 0},     {"a080", 0},  {"b00", 0},
        {"e", 0},     {"-", 0},     {" ", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(classifySerialNumber(serial(c.code).c_str()), c.type) << serial(c.code);
    }
}

TEST(ClassifySerialNumber, LengthAndPosition) {
    EXPECT_EQ(classifySerialNumber(nullptr), 0);
    EXPECT_EQ(classifySerialNumber(""), 0);
    EXPECT_EQ(classifySerialNumber("QNX0123456"), 0);   // 10 characters
    EXPECT_EQ(classifySerialNumber("QNX01234567"), 4);  // 11 characters
    EXPECT_EQ(classifySerialNumber("QNX012345678901234"), 4);
    EXPECT_EQ(classifySerialNumber("401E0000000"), 1);  // the first three characters are not examined
    EXPECT_EQ(classifySerialNumber("000A0800000"), 42);
    // Codes are compared over their own length only: the characters after them do not matter.
    EXPECT_EQ(classifySerialNumber("QNX8041ZZZZ"), 37);
}

TEST(ClassifySerialNumber, OnlyServerAndAdministrationServerAreAddressBoxes) {
    int addressBoxTypes = 0;
    for (char c = ' '; c < 127; ++c) {
        for (char d : std::string("0123456789ABZ")) {
            for (char e : std::string("0123456789Z")) {
                const std::string sn = std::string("QNX") + c + d + e + "00000";
                const int type = classifySerialNumber(sn.c_str());
                ASSERT_GE(type, 0);
                ASSERT_LT(type, SS_SN_TYPE_COUNT);
                EXPECT_NE(type, SS_SN_TYPE_SOFT_MASTER) << sn;           // no code yields 5
                EXPECT_NE(type, SS_SN_TYPE_SOFT_BROADCAST_SLAVE) << sn;  // nor 24
                if (type == SS_SN_TYPE_SERVER || type == SS_SN_TYPE_ADMINISTRATION_SERVER) ++addressBoxTypes;
            }
        }
    }
    EXPECT_GT(addressBoxTypes, 0);
    EXPECT_EQ(SS_SN_TYPE_SERVER, 4);
    EXPECT_EQ(SS_SN_TYPE_ADMINISTRATION_SERVER, 26);
    EXPECT_EQ(SS_SN_TYPE_SLAVE_VISIT, 44);
}

bool decodes(const char* bytes, const char* codePage) {
    iconv_t cd = iconv_open("UTF-8", codePage);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string in(bytes), out(4 * in.size() + 4, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    size_t inLeft = in.size(), outLeft = out.size();
    const size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    return result != size_t(-1) && inLeft == 0;
}

TEST(Catalogue, FortyFiveRecordsWithValidNames) {
    for (int i = 0; i < SS_SN_TYPE_COUNT; ++i) {
        const SS_SN_TYPE_RECORD& record = ss_sn_type_record(i);
        EXPECT_EQ(std::strncmp(record.identifier, "SS_SN_TYPE_", 11), 0) << i;
        EXPECT_GT(std::strlen(record.nameGbk), 0u) << i;
        EXPECT_TRUE(decodes(record.nameGbk, "GBK")) << record.identifier;
        // The Big5 field is a zero-filled 32-byte array: text, then only zero bytes.
        const size_t length = strnlen(record.nameBig5, sizeof record.nameBig5);
        ASSERT_LT(length, sizeof record.nameBig5) << record.identifier;
        for (size_t k = length; k < sizeof record.nameBig5; ++k) EXPECT_EQ(record.nameBig5[k], '\0');
        EXPECT_TRUE(decodes(record.nameBig5, "BIG5")) << record.identifier;
        EXPECT_GT(std::strlen(record.nameEnglish), 0u) << i;
    }
    EXPECT_STREQ(ss_sn_type_record(0).identifier, "SS_SN_TYPE_UNKNOW");
    EXPECT_STREQ(ss_sn_type_record(4).identifier, "SS_SN_TYPE_SERVER");
    EXPECT_STREQ(ss_sn_type_record(26).identifier, "SS_SN_TYPE_ADMINISTRATION_SERVER");
    EXPECT_STREQ(ss_sn_type_record(44).identifier, "SS_SN_TYPE_SLAVE_VISIT");
    EXPECT_STREQ(ss_sn_type_record(4).nameGbk, "\xb5\xd8\xd6\xb7\xba\xd0");  // 地址盒
    // Outside 0..44: the unknown type's record.
    EXPECT_EQ(&ss_sn_type_record(45), &ss_sn_type_record(0));
    EXPECT_EQ(&ss_sn_type_record(-1), &ss_sn_type_record(0));
}

}  // namespace

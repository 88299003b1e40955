// The log: line format, threshold, newline rule, whole long messages, banners, rotation, closed log.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ss/ss_dir.h"
#include "ss/ss_log.h"
#include "tests/support/temp_dir.h"

using quenta_test::readTextFile;
using quenta_test::ScopedDriveRoot;

namespace {

constexpr const char* kLogName = "C:\\Work/quenta/temp/quenta_upgrade.log";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

bool exists(const std::string& local) {
    std::error_code error;
    return std::filesystem::exists(local, error);
}

long fileSize(const std::string& local) {
    std::error_code error;
    const auto size = std::filesystem::file_size(local, error);
    return error ? -1 : static_cast<long>(size);
}

// prefix "%s |%-6s|%4d| %s->%s | "
const std::regex kLine(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) \|(.{6})\|(.{4})\| (.*)->(.*) \| (.*))");

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(ss_dir_createTree("C:\\Work/quenta/temp"), 1);
        ASSERT_EQ(ss_log_open(kLogName), 0);
        path_ = ss_log_currentPath();
        ASSERT_EQ(path_, root_.path() + "/C/Work/quenta/temp/quenta_upgrade.log");
    }
    void TearDown() override { ss_log_close(); }

    // The lines after the start banner.
    std::vector<std::string> messageLines() const {
        std::vector<std::string> all = lines(readTextFile(path_));
        return all.size() > 3 ? std::vector<std::string>(all.begin() + 3, all.end())
                              : std::vector<std::string>{};
    }

    ScopedDriveRoot root_;
    std::string path_;
};

TEST_F(LogTest, LineFormat) {
    ss_log_write(SS_LOG_ERROR, "..\\..\\src\\ss_socket", 340, "_SS_Socket_open",
                 "Can not create socket, check network config and make sure the driver is loaded.");
    ss_log_write(SS_LOG_WARN, "/home/dev/quenta/ss/ss_dir.cpp", 7, "f", "value %d and %s", 42, "text");
    ss_log_write(SS_LOG_INFO, "plain", 12345, "g", "x");
    std::vector<std::string> got = messageLines();
    ASSERT_EQ(got.size(), 3u);

    std::smatch m;
    ASSERT_TRUE(std::regex_match(got[0], m, kLine)) << got[0];
    EXPECT_EQ(m[2], "ERROR ");
    EXPECT_EQ(m[3], " 340");
    EXPECT_EQ(m[4], "ss_socket");
    EXPECT_EQ(m[5], "_SS_Socket_open");
    EXPECT_EQ(m[6], "Can not create socket, check network config and make sure the driver is loaded.");

    ASSERT_TRUE(std::regex_match(got[1], m, kLine)) << got[1];
    EXPECT_EQ(m[2], "WARN  ");
    EXPECT_EQ(m[3], "   7");
    EXPECT_EQ(m[4], "ss_dir.cpp");
    EXPECT_EQ(m[6], "value 42 and text");

    // A line number wider than four digits is printed whole.
    EXPECT_NE(got[2].find("|INFO  |12345| plain->g | x"), std::string::npos) << got[2];
}

TEST_F(LogTest, MacrosPassTheCallSite) {
    int line = __LINE__ + 1;
    SS_LOG(SS_LOG_DEBUG, "from macro %d", 1);
    SS_LOG_FN(SS_LOG_DEBUG, "namedFunction", "from macro %d", 2);
    std::vector<std::string> got = messageLines();
    ASSERT_EQ(got.size(), 2u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(got[0], m, kLine));
    EXPECT_EQ(std::stoi(m[3]), line);
    EXPECT_EQ(m[4], "ss_log_test.cpp");
    EXPECT_EQ(m[5], "TestBody");
    ASSERT_TRUE(std::regex_match(got[1], m, kLine));
    EXPECT_EQ(m[5], "namedFunction");
}

TEST_F(LogTest, TraceIsDroppedAndEveryOtherLevelWritten) {
    EXPECT_EQ(ss_log_write(SS_LOG_TRACE, "f", 1, "fn", "trace"), 0);
    for (int level = SS_LOG_DEBUG; level <= SS_LOG_FATAL; ++level) ss_log_write(level, "f", 1, "fn", "level");
    const char* empty = "";
    EXPECT_EQ(ss_log_write(SS_LOG_ERROR, "f", 1, "fn", empty), 0);  // empty format: nothing
    EXPECT_EQ(ss_log_write(SS_LOG_ERROR, "f", 1, "fn", nullptr), 0);
    std::vector<std::string> got = messageLines();
    ASSERT_EQ(got.size(), 5u);
    const char* names[] = {"DEBUG ", "INFO  ", "WARN  ", "ERROR ", "FATAL "};
    for (int i = 0; i < 5; ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(got[i], m, kLine));
        EXPECT_EQ(m[2], names[i]);
    }
}

TEST_F(LogTest, EveryLineEndsWithExactlyOneNewline) {
    ss_log_write(SS_LOG_DEBUG, "f", 1, "fn", "with\n");
    ss_log_write(SS_LOG_DEBUG, "f", 1, "fn", "without");
    ss_log_write(SS_LOG_DEBUG, "f", 1, "fn", "%s", "argument ends with newline\n");  // format does not
    std::string text = readTextFile(path_);
    EXPECT_NE(text.find("| with\n20"), std::string::npos);
    EXPECT_NE(text.find("| without\n20"), std::string::npos);
    // Only the format is looked at: a newline from an argument gets a second one.
    EXPECT_NE(text.find("| argument ends with newline\n\n"), std::string::npos);
}

TEST_F(LogTest, LongMessageIsWrittenWhole) {
    std::string message(200000, 'm');
    message.back() = 'E';
    ss_log_write(SS_LOG_DEBUG, "f", 1, "fn", "%s", message.c_str());
    std::vector<std::string> got = messageLines();
    ASSERT_EQ(got.size(), 1u);
    // (std::regex recurses per character: check the prefix with it and the message directly.)
    size_t start = got[0].find("->fn | ") + 7;
    ASSERT_TRUE(std::regex_match(got[0].substr(0, start) + "m", kLine)) << got[0].substr(0, 80);
    EXPECT_EQ(got[0].size() - start, message.size());
    EXPECT_TRUE(got[0].compare(start, std::string::npos, message) == 0);
}

TEST_F(LogTest, BannersAreCentredBetweenRules) {
    std::vector<std::string> all = lines(readTextFile(path_));
    ASSERT_GE(all.size(), 3u);
    const std::string rule(78, '=');
    EXPECT_EQ(all[0], rule);
    EXPECT_EQ(all[2], rule);
    // "<19-character time> Start log system. Log level[DEBUG]" is 54 characters: (78 - 54) / 2 = 12.
    std::regex start(R"( {12}\d{4}-\d\d-\d\d \d\d:\d\d:\d\d Start log system\. Log level\[DEBUG\])");
    EXPECT_TRUE(std::regex_match(all[1], start)) << all[1];

    // Odd difference: integer division.
    ss_log_banner("xy");  // 19 + 1 + 2 + 1 + 16 = 39 characters: 19 spaces
    std::string longMessage(60, 'L');
    ss_log_banner(longMessage.c_str());  // 98 characters: no spaces
    all = lines(readTextFile(path_));
    ASSERT_EQ(all.size(), 9u);
    EXPECT_EQ(all[4].find_first_not_of(' '), 19u) << all[4];
    EXPECT_EQ(all[7].find_first_not_of(' '), 0u) << all[7];
    EXPECT_NE(all[7].find(longMessage + " Log level[DEBUG]"), std::string::npos);
}

TEST_F(LogTest, CloseWritesTheStopBannerAndSilencesTheLog) {
    EXPECT_EQ(ss_log_close(), 0);
    EXPECT_EQ(ss_log_currentPath(), "");
    std::string text = readTextFile(path_);
    EXPECT_NE(text.find(" Stop log system. Log level[DEBUG]\n" + std::string(78, '=') + "\n"),
              std::string::npos);
    EXPECT_EQ(ss_log_write(SS_LOG_ERROR, "f", 1, "fn", "after close"), 0);
    EXPECT_EQ(ss_log_close(), 0);
    EXPECT_EQ(readTextFile(path_), text);
}

TEST_F(LogTest, SecondOpenKeepsTheStreamAndWritesAnotherBanner) {
    ASSERT_EQ(ss_log_open(kLogName), 0);
    std::vector<std::string> all = lines(readTextFile(path_));
    ASSERT_EQ(all.size(), 6u);
    EXPECT_NE(all[4].find("Start log system."), std::string::npos);
}

TEST_F(LogTest, RotatesAtOneMebibyteOverFiveFiles) {
    const std::string payload(1000, 'r');
    auto name = [this](int i) { return i == 0 ? path_ : path_ + "." + std::to_string(i); };
    int written = 0;
    // Fill the first file up to the limit; the next line rotates it.
    while (fileSize(path_) < 1048576) {
        ss_log_write(SS_LOG_DEBUG, "f", 1, "fn", "%06d %s", written++, payload.c_str());
    }
    EXPECT_FALSE(exists(name(1)));
    long full = fileSize(path_);
    ss_log_write(SS_LOG_DEBUG, "f", 1, "fn", "%06d %s", written++, payload.c_str());
    ASSERT_TRUE(exists(name(1)));
    EXPECT_EQ(fileSize(name(1)), full);
    std::vector<std::string> fresh = lines(readTextFile(path_));
    ASSERT_EQ(fresh.size(), 1u);  // the new file starts with the line that triggered the rotation
    char number[16];
    std::snprintf(number, sizeof number, " | %06d ", written - 1);
    EXPECT_NE(fresh[0].find(number), std::string::npos);

    // Five more rotations: .1 to .4 exist, the oldest content was deleted, nothing beyond .4.
    for (int rotation = 0; rotation < 5; ++rotation) {
        while (fileSize(path_) < 1048576)
            ss_log_write(SS_LOG_DEBUG, "f", 1, "fn", "%06d %s", written++, payload.c_str());
        ss_log_write(SS_LOG_DEBUG, "f", 1, "fn", "%06d %s", written++, payload.c_str());
    }
    for (int i = 0; i <= 4; ++i) EXPECT_TRUE(exists(name(i))) << name(i);
    EXPECT_FALSE(exists(name(5)));
    // Each copy starts where the newer one's predecessor ended: numbers grow from .4 to .1.
    auto firstNumber = [&](int i) {
        std::vector<std::string> content = lines(readTextFile(name(i)));
        std::smatch m;
        EXPECT_TRUE(std::regex_match(content.at(0), m, kLine));
        return std::stoi(m[6].str().substr(0, 6));
    };
    EXPECT_LT(firstNumber(4), firstNumber(3));
    EXPECT_LT(firstNumber(3), firstNumber(2));
    EXPECT_LT(firstNumber(2), firstNumber(1));
    // The five files hold every line from the oldest kept one on, none lost.
    size_t kept = 0;
    for (int i = 0; i <= 4; ++i) kept += lines(readTextFile(name(i))).size();
    EXPECT_EQ(kept, static_cast<size_t>(written - firstNumber(4)));
}

TEST(LogClosed, WritesNothingAndCreatesNothing) {
    ScopedDriveRoot root;
    EXPECT_EQ(ss_log_write(SS_LOG_ERROR, "f", 1, "fn", "nobody listens"), 0);
    EXPECT_EQ(ss_log_close(), 0);
    EXPECT_EQ(ss_log_currentPath(), "");
    EXPECT_FALSE(exists(root.path() + "/C"));
    EXPECT_FALSE(exists("ss_log.log"));
}

TEST(LogOpen, FailsOnAFolderThatDoesNotExistAndOnOverlongNames) {
    ScopedDriveRoot root;
    EXPECT_EQ(ss_log_open("C:\\missing\\folder\\x.log"), -1);
    EXPECT_EQ(ss_log_currentPath(), "");
    EXPECT_EQ(ss_log_write(SS_LOG_ERROR, "f", 1, "fn", "silent"), 0);
    std::string overlong = "C:\\" + std::string(253, 'n');  // 256 bytes
    EXPECT_EQ(ss_log_open(overlong.c_str()), -1);
    std::string longest = "C:\\" + std::string(252, 'n');  // 255 bytes, a 252-byte file name
    EXPECT_EQ(ss_log_open(longest.c_str()), 0);
    EXPECT_EQ(ss_log_close(), 0);
}

}  // namespace

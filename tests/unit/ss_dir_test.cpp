// test-labels: threads
// Folders, files, temporary names, path splitting, IPv4 helpers and text conversions.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ss/ss_dir.h"
#include "ss/ss_log.h"
#include "tests/support/temp_dir.h"

using quenta_test::readWholeFile;
using quenta_test::ScopedDriveRoot;
using quenta_test::writeWholeFile;

namespace {

const std::string kGbkSample = "\xB6\xE0\xC3\xBD\xCC\xE5\xCE\xC4\xBC\xFE\xB0\xFC";  // 多媒体文件包

bool isFolder(const char* path) {
    int attributes = ss_file_attributes(path);
    return attributes != -1 && (attributes & SS_FILE_ATTRIBUTE_DIRECTORY);
}

void makeFile(const char* narrowPath, const std::string& content = "x") {
    FILE* file = ss_platform_fopen(narrowPath, "wb");
    ASSERT_NE(file, nullptr) << narrowPath;
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
}

// Each test gets its own drive root and an open log inside it.
class DirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(ss_log_open("C:\\test.log"), 0);
        logPath_ = ss_log_currentPath();
    }
    void TearDown() override { ss_log_close(); }
    std::string logText() const { return readWholeFile(logPath_); }

    ScopedDriveRoot root_;
    std::string logPath_;
};

TEST_F(DirTest, CreateTreeMakesEveryPrefixOfTheTemporaryFolder) {
    EXPECT_EQ(ss_dir_createTree("C:\\Work\\system/quenta/temp"), 1);
    for (const char* folder :
         {"C:", "C:\\Work", "C:\\Work\\system", "C:\\Work\\system/quenta", "C:\\Work\\system/quenta/temp"})
        EXPECT_TRUE(isFolder(folder)) << folder;
    // Again on the existing tree: 1, nothing changes.
    EXPECT_EQ(ss_dir_createTree("C:\\Work\\system/quenta/temp"), 1);
    EXPECT_EQ(ss_dir_createTree("C:/Work/quenta/temp/"), 1);
    EXPECT_TRUE(isFolder("C:\\Work\\quenta\\temp"));
}

TEST_F(DirTest, CreateTreeTakesALaterBackslashBeforeAnEarlierSlash) {
    // The prefixes are "C:/a/b" and then the whole path: "C:/a" is never made on its own, so the walk
    // fails at "C:/a/b".
    EXPECT_EQ(ss_dir_createTree("C:/a/b\\c"), 0);
    EXPECT_FALSE(isFolder("C:/a"));
    // With "C:/a" present the same walk succeeds.
    EXPECT_EQ(_createdir("C:/a"), 1);
    EXPECT_EQ(ss_dir_createTree("C:/a/b\\c"), 1);
    EXPECT_TRUE(isFolder("C:\\a\\b\\c"));
}

TEST_F(DirTest, CreateTreeWithGbkNamesMakesUtf8Folders) {
    const std::string path = "C:\\" + kGbkSample + "\\sub";
    EXPECT_EQ(ss_dir_createTree(path.c_str()), 1);
    EXPECT_TRUE(isFolder(path.c_str()));
    struct stat info;
    EXPECT_EQ(stat((root_.path() + "/C/多媒体文件包/sub").c_str(), &info), 0);
}

TEST_F(DirTest, CreateTreeThroughAFileFailsAndLogsIt) {
    makeFile("C:\\blocker");
    EXPECT_EQ(ss_dir_createTree("C:\\blocker\\inner"), 0);
    EXPECT_NE(logText().find("| Error [C:\\blocker] is a file!\n"), std::string::npos) << logText();
    EXPECT_EQ(_createdir("C:\\blocker"), 0);
    EXPECT_EQ(ss_dir_createTree(nullptr), 0);
    EXPECT_EQ(ss_dir_createTree(""), 0);
}

TEST_F(DirTest, PathsOf260BytesOrMoreAreRefusedNotCut) {
    std::string longest = "C:\\" + std::string(120, 'a') + "\\" + std::string(135, 'b');  // 259 bytes
    ASSERT_EQ(longest.size(), 259u);
    EXPECT_EQ(ss_dir_createTree(longest.c_str()), 1);
    EXPECT_TRUE(isFolder(longest.c_str()));
    std::string tooLong = longest + "c";  // 260 bytes; its cut form would be the folder above
    EXPECT_EQ(ss_file_attributes(tooLong.c_str()), -1);
    EXPECT_EQ(_createdir(tooLong.c_str()), 0);
    EXPECT_EQ(ss_dir_createTree(tooLong.c_str()), 0);
    EXPECT_EQ(ss_file_size(tooLong.c_str()), -1);
    EXPECT_EQ(ss_file_move("C:\\nothing", tooLong.c_str()), 0);
}

TEST_F(DirTest, MoveRemoveAndDeleteFile) {
    makeFile("C:\\one.txt");
    makeFile("C:\\two.txt");
    EXPECT_EQ(ss_file_move("C:\\one.txt", "C:\\two.txt"), 0);  // the target exists
    EXPECT_NE(ss_file_move("C:\\one.txt", "C:\\three.txt"), 0);
    EXPECT_EQ(ss_file_attributes("C:\\one.txt"), -1);
    EXPECT_EQ(ss_file_move(nullptr, "C:\\x"), 0);
    EXPECT_EQ(ss_file_move("C:\\x", nullptr), 0);

    // A read-only file loses the bit and is deleted.
    ASSERT_EQ(ss_platform_setReadOnly("C:\\three.txt", true), 0);
    EXPECT_EQ(ss_file_attributes("C:\\three.txt"), SS_FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(deletefile("C:\\three.txt"), 1);
    EXPECT_EQ(ss_file_attributes("C:\\three.txt"), -1);

    // Absent: success without a log line. Null: 0. A folder is left alone and counts as gone.
    std::string before = logText();
    EXPECT_EQ(deletefile("C:\\absent.txt"), 1);
    EXPECT_EQ(logText(), before);
    EXPECT_EQ(deletefile(nullptr), 0);
    EXPECT_NE(ss_file_remove(nullptr), 0);
    ASSERT_EQ(_createdir("C:\\folder"), 1);
    EXPECT_EQ(deletefile("C:\\folder"), 1);
    EXPECT_TRUE(isFolder("C:\\folder"));
    EXPECT_NE(ss_file_remove("C:\\two.txt"), 0);
    EXPECT_EQ(ss_file_attributes("C:\\two.txt"), -1);
}

TEST_F(DirTest, DeleteFileThatCannotBeDeletedOrMovedIsReported) {
    if (geteuid() == 0) GTEST_SKIP() << "root may delete in a read-only folder";
    ASSERT_EQ(_createdir("C:\\locked"), 1);
    makeFile("C:\\locked\\f.txt");
    ASSERT_EQ(ss_platform_setReadOnly("C:\\locked", true), 0);
    EXPECT_EQ(deletefile("C:\\locked\\f.txt"), 0);
    EXPECT_NE(logText().find("| Can not delete file[C:\\locked\\f.txt]\n"), std::string::npos);
    ss_platform_setReadOnly("C:\\locked", false);
}

TEST_F(DirTest, TemporaryNames) {
    char first[SS_MAX_PATH];
    ASSERT_EQ(ss_temp_name(first, sizeof first), 0);
    const std::regex shape(R"(C:\\Work\\system\\quenta\\temp\\tmp__0000[0-7][0-9a-f]{3})");
    EXPECT_TRUE(std::regex_match(first, shape)) << first;
    EXPECT_TRUE(isFolder("C:\\Work\\system\\quenta\\temp"));

    // Once a file of that name exists, the next name differs.
    makeFile(first);
    char second[SS_MAX_PATH];
    ASSERT_EQ(ss_temp_name(second, sizeof second), 0);
    EXPECT_TRUE(std::regex_match(second, shape)) << second;
    EXPECT_STRNE(first, second);

    char small[SS_MAX_PATH - 1];
    EXPECT_EQ(ss_temp_name(small, sizeof small), -1);
    EXPECT_EQ(ss_temp_name(nullptr, SS_MAX_PATH), -1);
}

TEST_F(DirTest, TemporaryNamesFromManyThreadsAreWellFormed) {
    const std::regex shape(R"(C:\\Work\\system\\quenta\\temp\\tmp__0000[0-7][0-9a-f]{3})");
    std::vector<std::vector<std::string>> names(4);
    std::vector<std::thread> threads;
    for (auto& list : names) {
        threads.emplace_back([&list] {
            for (int i = 0; i < 50; ++i) {
                char name[SS_MAX_PATH];
                if (ss_temp_name(name, sizeof name) == 0) list.push_back(name);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::set<std::string> distinct;
    for (const auto& list : names) {
        ASSERT_EQ(list.size(), 50u);
        for (const std::string& name : list) EXPECT_TRUE(std::regex_match(name, shape)) << name;
        distinct.insert(list.begin(), list.end());
    }
    // No file is made under any of them, so only a fresh number per name keeps them apart: names
    // made by threads at the same moment never coincide.
    EXPECT_EQ(distinct.size(), 200u);
}

TEST_F(DirTest, FileSize) {
    makeFile("C:\\sized.bin", std::string(12345, 'z'));
    EXPECT_EQ(ss_file_size("C:\\sized.bin"), 12345);
    makeFile("C:\\empty.bin", "");
    EXPECT_EQ(ss_file_size("C:\\empty.bin"), 0);
    EXPECT_EQ(ss_file_size("C:\\absent.bin"), -1);
    EXPECT_EQ(ss_file_size("C:"), -1);  // a folder
    EXPECT_EQ(ss_file_size(nullptr), -1);
}

TEST(PathSplit, BasenameAndDirname) {
    struct Case {
        const char* path;
        std::optional<std::string> basename, dirname;
    } cases[] = {
        {"C:", std::nullopt, "C:"},
        {"C:\\", std::nullopt, "C:"},
        {"C:\\Work\\file.txt", "file.txt", "C:\\Work"},
        {"C:/Work/quenta/temp", "temp", "C:/Work/quenta"},
        {"C:\\Work\\system/quenta", "quenta", "C:\\Work\\system"},
        {"..\\..\\src\\ss_dir", "ss_dir", "..\\..\\src"},
        {"name", "name", std::nullopt},
        {"\\name", "name", "\\"},
        {"/", std::nullopt, "/"},
        {"dir/", std::nullopt, "dir"},
        {"", std::nullopt, std::nullopt},
        {nullptr, std::nullopt, std::nullopt},
        // 0x81 0x5C is one GBK character: its second byte is no separator.
        {"dir\\a\x81\x5C", "a\x81\x5C", "dir"},
    };
    for (const Case& c : cases) {
        const char* shown = c.path ? c.path : "(null)";
        EXPECT_EQ(ss_path_basename(c.path), c.basename) << shown;
        EXPECT_EQ(ss_path_dirname(c.path), c.dirname) << shown;
    }
}

TEST(PathSplit, LastSeparator) {
    EXPECT_EQ(ss_path_lastSeparator("a\\b/c", 4), 3);
    EXPECT_EQ(ss_path_lastSeparator("a\\b/c", 2), 1);
    EXPECT_EQ(ss_path_lastSeparator("a\\b/c", 0), -1);
    EXPECT_EQ(ss_path_lastSeparator("a\\b/c", 100), 3);  // never reads past the end
    EXPECT_EQ(ss_path_lastSeparator("a\\b", -1), -1);
    EXPECT_EQ(ss_path_lastSeparator("", 0), -1);
    EXPECT_EQ(ss_path_lastSeparator(nullptr, 3), -1);
    EXPECT_EQ(ss_path_lastSeparator("\x81\x5C", 1), -1);
}

TEST(Ipv4, IsValid) {
    struct Case {
        const char* text;
        int valid;
    } cases[] = {
        {"1.2.3.4", 1},
        {"223.255.255.254", 1},
        {"192.168.1.10", 1},
        {"255.1.1.1", 0},  // reserved 240/4
        {"224.0.0.1", 0},
        {"239.255.255.250", 0},
        {"0.1.2.3", 0},
        {"127.0.0.1", 0},
        {"255.255.255.255", 0},
        {"1.2.3", 0},
        {"1.2.3.4.5", 0},
        {"1.2.3.256", 0},
        {"256.1.1.1", 0},
        {"1.2.3.4 ", 0},
        {" 1.2.3.4", 0},
        {"1. 2.3.4", 0},
        {"+1.2.3.4", 0},
        {"1..2.3", 0},
        {"1.2.3.", 0},
        {"1.2.3.4x", 0},
        {"1.1.1", 0},
        {"", 0},
        {nullptr, 0},
        {"001.002.003.004", 0},   // leading zeros: an old octal form, never an address
        {"1.2.3.4294967297", 0},  // 16 characters
        {"01.002.003.0004", 0},
        {"1.2.3.99999999", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ss_ip_isValid(c.text), c.valid) << (c.text ? c.text : "(null)");
}

TEST(Ipv4, ToInteger) {
    struct Case {
        const char* text;
        uint32_t value;
    } cases[] = {
        {"1.2.3.4", 67305985u},
        {"192.168.1.10", 192u | 168u << 8 | 1u << 16 | 10u << 24},
        {"10.0.0.1x", 0},
        {"", 0},
        {nullptr, 0},
        {"1.2.3.300", 1u | 2u << 8 | 3u << 16 | (300u << 24)},  // spills as it always did
        {"1.2.3.4.5", 0},                                       // a fifth number is no address
        {"1.2.3.4567890123", 0},                                // 16 characters: refused, not wrapped
        {"100.100.100.100", 0x64646464u},
    };
    for (const Case& c : cases) EXPECT_EQ(ss_ip_toInteger(c.text), c.value) << (c.text ? c.text : "(null)");
    // The value's bytes in memory are the four numbers in order.
    uint32_t value = ss_ip_toInteger("192.168.1.10");
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&value);
    EXPECT_EQ(bytes[0], 192);
    EXPECT_EQ(bytes[3], 10);
}

TEST(TextConversion, GbkWideRoundTripAndBadInput) {
    std::u16string wide;
    EXPECT_EQ(ss_text_toWide(kGbkSample.c_str(), wide), 1);
    EXPECT_EQ(wide, u"多媒体文件包");
    std::string narrow;
    EXPECT_EQ(ss_text_toNarrow(wide, narrow), 1);
    EXPECT_EQ(narrow, kGbkSample);
    EXPECT_EQ(ss_text_gbkToUtf8(kGbkSample), "多媒体文件包");
    EXPECT_EQ(ss_text_utf8ToGbk("多媒体文件包"), kGbkSample);

    EXPECT_EQ(ss_text_toWide("\xFF\xFF", wide), 0);
    EXPECT_EQ(ss_text_toWide(nullptr, wide), 0);
    EXPECT_TRUE(wide.empty());
    EXPECT_EQ(ss_text_toNarrow(u"a\u0e01b", narrow), 0);  // a Thai letter is not in code page 936
    EXPECT_EQ(narrow, "a?b");
    EXPECT_EQ(ss_text_gbkToUtf8("ok\xFF"), "ok\xEF\xBF\xBD");
}

}  // namespace

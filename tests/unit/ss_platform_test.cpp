// Platform layer: drive path mapping, file operations, GBK conversions, clocks.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ss/ss_platform.h"
#include "tests/support/temp_dir.h"

using quenta_test::ScopedDriveRoot;

namespace {

// "多媒体文件包" in code page 936.
const std::string kGbkSample = "\xB6\xE0\xC3\xBD\xCC\xE5\xCE\xC4\xBC\xFE\xB0\xFC";
const std::string kUtf8Sample = "多媒体文件包";

bool isFolder(const std::string& local) {
    struct stat info;
    return stat(local.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

TEST(PlatformMapPath, DrivePathsGoUnderTheDriveRootAndOtherPathsStay) {
    ScopedDriveRoot root;
    const std::string r = root.path();
    struct Case {
        const char* narrow;
        std::string expected;
    } cases[] = {
        {"C:\\Work/quenta/temp", r + "/C/Work/quenta/temp"},
        {"C:\\Work\\system/quenta/temp", r + "/C/Work/system/quenta/temp"},
        {"c:/Work/x.log", r + "/C/Work/x.log"},
        {"D:", r + "/D"},
        {"C:\\", r + "/C/"},
        {"C:relative", r + "/C/relative"},
        {"ss_log.log", "ss_log.log"},
        {"..\\up\\file", "../up/file"},
        {"/tmp/plain", "/tmp/plain"},
        {"C:\\"
         "\xB6\xE0\xC3\xBD",
         r + "/C/多媒"},
    };
    for (const Case& c : cases) EXPECT_EQ(ss_platform_mapPath(c.narrow), c.expected) << c.narrow;
    // The drive folder exists once a drive path was mapped.
    EXPECT_TRUE(isFolder(r + "/C"));
    EXPECT_TRUE(isFolder(r + "/D"));
}

TEST(PlatformMapPath, GbkTrailByte5CIsNotASeparator) {
    ScopedDriveRoot root;
    // 0x81 0x5C is one GBK character whose second byte is the code of "\".
    std::string character;
    ASSERT_EQ(ss_platform_gbkToUtf8("\x81\x5C", character), 0);
    EXPECT_EQ(ss_platform_mapPath("C:\\a\x81\x5C"
                                  "b"),
              root.path() + "/C/a" + character + "b");
}

TEST(PlatformMapPath, FileNamedInRawGbkBytesIsReachedByThoseBytes) {
    ScopedDriveRoot root;
    // A package unpacked from a Windows archive keeps its GBK name on disk; the narrow path that
    // names it is that same byte string, and it must open the file, not a UTF-8 namesake.
    const std::string raw = root.path() + "/" + kGbkSample + ".quenta";
    FILE* made = std::fopen(raw.c_str(), "wb");
    ASSERT_NE(made, nullptr);
    std::fputs("raw", made);
    std::fclose(made);
    EXPECT_EQ(ss_platform_mapPath(raw.c_str()), raw);
    FILE* opened = ss_platform_fopen(raw.c_str(), "rb");
    ASSERT_NE(opened, nullptr);
    std::fclose(opened);
    // Once a file with the converted (UTF-8) name exists, that name is the one meant.
    const std::string converted = root.path() + "/" + kUtf8Sample + ".quenta";
    FILE* namesake = std::fopen(converted.c_str(), "wb");
    ASSERT_NE(namesake, nullptr);
    std::fclose(namesake);
    EXPECT_EQ(ss_platform_mapPath(raw.c_str()), converted);
}

TEST(PlatformMapPath, RefusesNullEmptyTooLongAndInvalidPaths) {
    ScopedDriveRoot root;
    EXPECT_EQ(ss_platform_mapPath(nullptr), "");
    EXPECT_EQ(ss_platform_mapPath(""), "");
    EXPECT_EQ(ss_platform_mapPath("C:\\bad\xFF\xFF"), "");
    std::string longest = "C:\\" + std::string(SS_MAX_PATH - 4, 'a');  // 259 bytes
    EXPECT_NE(ss_platform_mapPath(longest.c_str()), "");
    std::string tooLong = longest + "a";  // 260 bytes
    EXPECT_EQ(ss_platform_mapPath(tooLong.c_str()), "");
    EXPECT_EQ(ss_platform_fopen(tooLong.c_str(), "w"), nullptr);
}

TEST(PlatformMapPath, DefaultDriveRootFollowsXdgDataHome) {
    std::string saved = std::getenv("QUENTA_DRIVE_ROOT") ? std::getenv("QUENTA_DRIVE_ROOT") : "";
    const char* savedXdg = std::getenv("XDG_DATA_HOME");
    std::string xdg = savedXdg ? savedXdg : "";
    unsetenv("QUENTA_DRIVE_ROOT");
    setenv("XDG_DATA_HOME", "/nonexistent/data", 1);
    EXPECT_EQ(ss_platform_driveRoot(), "/nonexistent/data/quenta-upgrade/drives");
    unsetenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    EXPECT_EQ(ss_platform_driveRoot(), std::string(home ? home : "") + "/.local/share/quenta-upgrade/drives");
    if (savedXdg) setenv("XDG_DATA_HOME", xdg.c_str(), 1);
    if (!saved.empty()) setenv("QUENTA_DRIVE_ROOT", saved.c_str(), 1);
}

TEST(PlatformFiles, AttributesMkdirRenameUnlinkAndReadOnly) {
    ScopedDriveRoot root;
    EXPECT_EQ(ss_platform_fileAttributes("C:\\f"), -1);
    EXPECT_EQ(ss_platform_mkdir("C:\\dir"), 0);
    EXPECT_EQ(ss_platform_mkdir("C:\\dir"), -1);  // exists
    EXPECT_EQ(ss_platform_fileAttributes("C:/dir"), SS_PLATFORM_ATTRIBUTE_DIRECTORY);

    FILE* file = ss_platform_fopen("C:\\dir\\a.txt", "w");
    ASSERT_NE(file, nullptr);
    std::fputs("a", file);
    std::fclose(file);
    EXPECT_EQ(ss_platform_fileAttributes("C:\\dir\\a.txt"), SS_PLATFORM_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ss_platform_setReadOnly("C:\\dir\\a.txt", true), 0);
    EXPECT_EQ(ss_platform_fileAttributes("C:\\dir\\a.txt"), SS_PLATFORM_ATTRIBUTE_READONLY);
    EXPECT_EQ(ss_platform_setReadOnly("C:\\dir\\a.txt", false), 0);
    EXPECT_EQ(ss_platform_fileAttributes("C:\\dir\\a.txt"), SS_PLATFORM_ATTRIBUTE_NORMAL);

    file = ss_platform_fopen("C:\\dir\\b.txt", "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    // A rename never replaces an existing name.
    EXPECT_EQ(ss_platform_rename("C:\\dir\\a.txt", "C:\\dir\\b.txt"), -1);
    EXPECT_EQ(ss_platform_fileAttributes("C:\\dir\\a.txt"), SS_PLATFORM_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ss_platform_rename("C:\\dir\\a.txt", "C:\\dir\\c.txt"), 0);
    EXPECT_EQ(ss_platform_fileAttributes("C:\\dir\\a.txt"), -1);
    EXPECT_EQ(ss_platform_unlink("C:\\dir\\c.txt"), 0);
    EXPECT_EQ(ss_platform_unlink("C:\\dir\\c.txt"), -1);
    EXPECT_EQ(ss_platform_unlink("C:\\dir"), -1);  // a folder is no file
}

TEST(PlatformText, GbkRoundTripsThroughUtf8AndUtf16) {
    std::string utf8;
    ASSERT_EQ(ss_platform_gbkToUtf8(kGbkSample, utf8), 0);
    EXPECT_EQ(utf8, kUtf8Sample);
    std::string gbk;
    ASSERT_EQ(ss_platform_utf8ToGbk(kUtf8Sample, gbk), 0);
    EXPECT_EQ(gbk, kGbkSample);

    std::u16string wide;
    ASSERT_EQ(ss_platform_gbkToUtf16(kGbkSample + "ok", wide), 0);
    EXPECT_EQ(wide, u"多媒体文件包ok");
    ASSERT_EQ(ss_platform_utf16ToGbk(wide, gbk), 0);
    EXPECT_EQ(gbk, kGbkSample + "ok");

    // Code page 936 has the euro sign at 0x80.
    ASSERT_EQ(ss_platform_gbkToUtf8("\x80", utf8), 0);
    EXPECT_EQ(utf8, "€");
}

TEST(PlatformText, BadInputIsReportedAndReplaced) {
    std::string utf8;
    EXPECT_EQ(ss_platform_gbkToUtf8("a\xFF\xFF"
                                    "b",
                                    utf8),
              -1);
    EXPECT_EQ(utf8,
              "a\xEF\xBF\xBD\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(ss_platform_gbkToUtf8("ab\xB6", utf8), -1);  // lead byte cut off at the end
    EXPECT_EQ(utf8, "ab\xEF\xBF\xBD");

    std::string gbk;
    EXPECT_EQ(ss_platform_utf8ToGbk("x\xC3", gbk), -1);  // truncated UTF-8
    EXPECT_EQ(gbk, "x?");
    EXPECT_EQ(ss_platform_utf8ToGbk("😀", gbk), -1);  // not in code page 936
    EXPECT_EQ(gbk.find('?') != std::string::npos, true);

    std::u16string lone = u"a";
    lone.push_back(static_cast<char16_t>(0xD800));  // unpaired surrogate
    lone.push_back(u'b');
    EXPECT_EQ(ss_platform_utf16ToGbk(lone, gbk), -1);
    EXPECT_EQ(gbk.front(), 'a');
    EXPECT_EQ(gbk.back(), 'b');

    std::u16string wide;
    EXPECT_EQ(ss_platform_gbkToUtf16("\xFF", wide), -1);
    EXPECT_EQ(wide, u"\uFFFD");
    EXPECT_EQ(ss_platform_gbkToUtf16("", wide), 0);
    EXPECT_TRUE(wide.empty());
}

TEST(PlatformTime, ClocksAndLocalTimeText) {
    EXPECT_GT(ss_platform_nowMs(), int64_t{1600000000000});  // after 2020
    int64_t first = ss_platform_monotonicMs();
    ss_platform_sleepMs(1);
    EXPECT_GE(ss_platform_monotonicMs(), first);
    std::string text = ss_platform_localTimeText();
    EXPECT_EQ(text.size(), 19u);
    EXPECT_EQ(text[4], '-');
    EXPECT_EQ(text[10], ' ');
    EXPECT_EQ(text[13], ':');
}

TEST(PlatformSameFile, ComparesTheFilesNotThePathText) {
    quenta_test::TempDir dir;
    const std::string a = dir.file("a"), b = dir.file("b");
    ASSERT_TRUE(quenta_test::writeWholeFile(a, "a"));
    ASSERT_TRUE(quenta_test::writeWholeFile(b, "b"));
    const std::string dirName = dir.path().substr(dir.path().rfind('/') + 1);
    for (const std::string& spelling :
         {a, dir.path() + "//a", dir.path() + "/./a", dir.path() + "/../" + dirName + "/a"})
        EXPECT_TRUE(ss_platform_sameFile(a, spelling)) << spelling;
    ASSERT_EQ(0, ::link(a.c_str(), dir.file("hard").c_str()));
    ASSERT_EQ(0, ::symlink(a.c_str(), dir.file("soft").c_str()));
    EXPECT_TRUE(ss_platform_sameFile(a, dir.file("hard")));
    EXPECT_TRUE(ss_platform_sameFile(dir.file("soft"), a));
    EXPECT_FALSE(ss_platform_sameFile(a, b));
    EXPECT_FALSE(ss_platform_sameFile(a, dir.file("missing")));
    EXPECT_FALSE(ss_platform_sameFile(dir.file("missing"), dir.file("missing")));
}

}  // namespace

// test-labels: windows
// The Windows platform layer on real drive paths: code page 936 to UTF-16 for the wide file
// functions (whatever the ANSI code page), the fixed folders of the program, Chinese file names, and
// the Windows meaning of read-only and rename.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "ss/ss_dir.h"
#include "ss/ss_platform.h"

namespace {

// "多媒体文件包" in GBK and the same name in UTF-16.
const char kGbkName[] = "\xB6\xE0\xC3\xBD\xCC\xE5\xCE\xC4\xBC\xFE\xB0\xFC";
const wchar_t kWideName[] = L"\u591A\u5A92\u4F53\u6587\u4EF6\u5305";

// Real drive paths: no test drive root for the lifetime of the fixture; the folder it works in is
// removed afterwards.
class RealDrive : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t old[1024];
        const DWORD length = GetEnvironmentVariableW(L"QUENTA_DRIVE_ROOT", old, 1024);
        if (length > 0 && length < 1024) oldRoot_.assign(old, length);
        SetEnvironmentVariableW(L"QUENTA_DRIVE_ROOT", nullptr);
        folder_ = L"C:\\Work\\quenta-win32-test-" + std::to_wstring(GetCurrentProcessId());
        narrowFolder_ = "C:\\Work\\quenta-win32-test-" + std::to_string(GetCurrentProcessId());
    }
    void TearDown() override {
        removeTree(folder_);
        SetEnvironmentVariableW(L"QUENTA_DRIVE_ROOT", oldRoot_.empty() ? nullptr : oldRoot_.c_str());
    }
    static void removeTree(const std::wstring& path) {
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = entry.cFileName;
                if (name == L"." || name == L"..") continue;
                const std::wstring child = path + L"\\" + name;
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    removeTree(child);
                } else {
                    SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileW(child.c_str());
                }
            } while (FindNextFileW(find, &entry));
            FindClose(find);
        }
        RemoveDirectoryW(path.c_str());
    }
    std::wstring folder_;
    std::string narrowFolder_;
    std::wstring oldRoot_;
};

TEST(Win32Text, GbkConvertsWithCodePage936WhateverTheAnsiCodePage) {
    std::u16string wide;
    EXPECT_EQ(ss_platform_gbkToUtf16(kGbkName, wide), 0);
    EXPECT_EQ(std::wstring(wide.begin(), wide.end()), kWideName) << "ANSI code page " << GetACP();
    std::string back;
    EXPECT_EQ(ss_platform_utf16ToGbk(wide, back), 0);
    EXPECT_EQ(back, kGbkName);
    std::string utf8;
    EXPECT_EQ(ss_platform_gbkToUtf8("\x80", utf8), 0);  // 0x80 is the euro sign in code page 936
    EXPECT_EQ(utf8, "\xE2\x82\xAC");
}

TEST(Win32Text, BadInputIsReportedAndReplacedAsOnLinux) {
    std::u16string wide;
    EXPECT_EQ(ss_platform_gbkToUtf16("a\xFF"
                                     "b\x81",
                                     wide),
              -1);  // 0xFF, then a cut lead byte
    EXPECT_EQ(wide, u"a\uFFFDb\uFFFD");
    std::string gbk;
    EXPECT_EQ(ss_platform_utf16ToGbk(u"x\U0001F600", gbk), -1);  // a character GBK lacks
    EXPECT_EQ(gbk.substr(0, 2), "x?");
    EXPECT_EQ(ss_platform_utf8ToGbk("ok\xC3", gbk), -1);  // a cut UTF-8 sequence
    EXPECT_EQ(gbk.substr(0, 2), "ok");
}

TEST_F(RealDrive, FixedFoldersAreTheRealOnes) {
    EXPECT_EQ(ss_platform_mapPath("C:\\Work/quenta/temp"), "C:\\Work/quenta/temp");
    EXPECT_EQ(ss_platform_driveRoot(), "");
    const std::string tree = narrowFolder_ + "\\system\\quenta/temp";
    EXPECT_EQ(ss_dir_createTree(tree.c_str()), 1);
    const DWORD attributes = GetFileAttributesW((folder_ + L"\\system\\quenta\\temp").c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);

    // The program's temporary folder, "C:\\Work\\system/quenta/temp", on the real drive C:.
    char name[SS_MAX_PATH] = {};
    ss_temp_name(name, sizeof name);
    EXPECT_EQ(std::string(name).rfind("C:\\Work\\system\\quenta\\temp\\tmp__", 0), 0u) << name;
    EXPECT_EQ(GetFileAttributesW(L"C:\\Work\\system\\quenta\\temp") & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(RealDrive, ChineseNarrowNamesReachTheWideName) {
    ASSERT_EQ(ss_dir_createTree(narrowFolder_.c_str()), 1);
    const std::string narrow = narrowFolder_ + "/" + kGbkName + "-2.4.1.quenta";
    {
        FILE* file = ss_platform_fopen(narrow.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs("content", file);
        std::fclose(file);
    }
    const std::wstring wide = folder_ + L"\\" + kWideName + L"-2.4.1.quenta";
    FILE* file = _wfopen(wide.c_str(), L"rb");
    ASSERT_NE(file, nullptr) << "the GBK name did not become the UTF-16 name";
    char text[16] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, file), 7u);
    std::fclose(file);
    EXPECT_EQ(ss_file_size(narrow.c_str()), 7);

    // The same file named as the command line gives it (UTF-8).
    std::string utf8;
    ss_platform_gbkToUtf8(narrow, utf8);
    FILE* local = ss_platform_fopenLocal(utf8.c_str(), "rb");
    EXPECT_NE(local, nullptr);
    if (local) std::fclose(local);
    std::error_code error;
    EXPECT_TRUE(std::filesystem::is_regular_file(ss_platform_localFsPath(utf8), error));
}

TEST_F(RealDrive, RenameNeverReplacesAndReadOnlyFilesAreDeletedAfterClearingTheBit) {
    ASSERT_EQ(ss_dir_createTree(narrowFolder_.c_str()), 1);
    const std::string a = narrowFolder_ + "/a.bin";
    const std::string b = narrowFolder_ + "/b.bin";
    for (const std::string& name : {a, b}) {
        FILE* file = ss_platform_fopen(name.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
    }
    EXPECT_EQ(ss_file_move(a.c_str(), b.c_str()), 0);
    EXPECT_EQ(ss_platform_setReadOnly(b.c_str(), true), 0);
    EXPECT_EQ(ss_file_attributes(b.c_str()), SS_PLATFORM_ATTRIBUTE_READONLY);
    EXPECT_EQ(ss_platform_unlink(b.c_str()), -1);  // Windows refuses to delete a read-only file
    EXPECT_EQ(deletefile(b.c_str()), 1);
    EXPECT_EQ(ss_file_attributes(b.c_str()), -1);
    EXPECT_NE(ss_file_move(a.c_str(), b.c_str()), 0);
}

// The files themselves are compared, not the path text: other spellings (separators, ".", "..", letter
// case) and a hard link name the same file; another file or a missing one does not.
TEST_F(RealDrive, SameFileComparesTheFilesNotTheirSpelling) {
    ASSERT_EQ(ss_dir_createTree(narrowFolder_.c_str()), 1);
    const std::string& folder = narrowFolder_;  // ASCII, so also the UTF-8 path
    const std::string a = folder + "\\a.bin", b = folder + "\\b.bin";
    for (const std::string& name : {a, b}) {
        FILE* file = ss_platform_fopen(name.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
    }
    const std::string name = folder.substr(folder.rfind('\\') + 1);
    for (const std::string& spelling : {a, folder + "/a.bin", folder + "\\.\\a.bin", folder + "\\\\a.bin",
                                        folder + "\\..\\" + name + "\\a.bin", folder + "\\A.BIN"})
        EXPECT_TRUE(ss_platform_sameFile(a, spelling)) << spelling;
    ASSERT_TRUE(CreateHardLinkW((folder_ + L"\\hard.bin").c_str(), (folder_ + L"\\a.bin").c_str(), nullptr));
    EXPECT_TRUE(ss_platform_sameFile(folder + "\\hard.bin", a));
    EXPECT_FALSE(ss_platform_sameFile(a, b));
    EXPECT_FALSE(ss_platform_sameFile(a, folder + "\\missing.bin"));
}

}  // namespace

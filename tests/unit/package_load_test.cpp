// Load checks of a chosen package: order, messages and the loaded-package record.
#include "package/package_load.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>

#include "package/package_info.h"
#include "sim/package_maker.h"
#include "ss/ss_platform.h"
#include "tests/support/temp_dir.h"

namespace {

using quenta_test::TempDir;
using quenta_test::writeWholeFile;

std::string gbk(const std::string& utf8) {
    std::string out;
    EXPECT_EQ(ss_platform_utf8ToGbk(utf8, out), 0);
    return out;
}

// The window's sequence after the file dialog: precheck, then read. Returns the message or "".
std::string load(const std::string& path, LoadedPackage& package) {
    std::string message;
    if (packagePrecheck(path, message) != 0) return message;
    if (packageRead(path, package, message) != 0) return message;
    EXPECT_EQ(message, "");
    return "";
}

TEST(PackageLoad, ExtensionIsComparedExactly) {
    struct Case {
        const char* path;
        bool quenta;
    } cases[] = {
        {"/p/pkg-1.0.quenta", true},
        {"/p/pkg-1.0.QUENTA", false},
        {"/p/pkg-1.0.Quenta", false},
        {"/p/pkg-1.0", false},
        {"/p/pkg", false},
        {"/p.quenta/pkg", false},
        {"/p/pkg.quenta.bak", false},
        {"/p/pkg.quenta ", false},
        {".quenta", true},
    };
    for (const Case& c : cases) EXPECT_EQ(packageExtensionIsQuenta(c.path), c.quenta) << c.path;
}

TEST(PackageLoad, MessagesInTheOrderOfTheChecks) {
    TempDir dir;
    PackageSpec good;
    good.modelList = "X10,X1";
    // A package of exactly 2048 bytes: payload + "X10,X1,MD5:<32>" (43) + 20.
    good.payloadSize = 2048 - 43 - 20;
    ASSERT_EQ(makePackageBytes(good).size(), 2048u);
    PackageSpec badMarker = good;
    badMarker.fault = PackageFault::BadMarker;

    struct Case {
        const char* name;
        std::optional<std::string> content;  // absent: no file
        const char* fileName;
        std::string message;
    } cases[] = {
        {"absent file", std::nullopt, "absent-1.0.quenta", kPackageUnreadableMessage},
        {"2047 bytes", std::string(2047, 'x'), "small-1.0.quenta", kPackageTooSmallMessage},
        {"empty file", std::string(), "empty-1.0.quenta", kPackageTooSmallMessage},
        {"2048 bytes of no package", std::string(2048, 'x'), "junk-1.0.quenta", kPackageInvalidMessage},
        {"bad marker", makePackageBytes(badMarker), "bad-1.0.quenta", kPackageInvalidMessage},
        {"no version", makePackageBytes(good), "pkg1.0.quenta", kPackageNoVersionMessage},
        {"dash first", makePackageBytes(good), "-1.0.quenta", kPackageNoVersionMessage},
        {"good 2048 bytes", makePackageBytes(good), "good-1.0.quenta", ""},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(c.fileName);
        if (c.content) {
            ASSERT_TRUE(writeWholeFile(path, *c.content));
        }
        LoadedPackage package;
        EXPECT_EQ(load(path, package), c.message) << c.name;
    }
}

TEST(PackageLoad, FolderAndNamedPipeAreNotReadable) {
    TempDir dir;
    std::string message;
    EXPECT_EQ(packagePrecheck(dir.path(), message), -1);
    EXPECT_EQ(message, kPackageUnreadableMessage);
    // Opening a pipe without a writer would wait for ever.
    const std::string fifo = dir.file("pipe-1.0.quenta");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    message.clear();
    EXPECT_EQ(packagePrecheck(fifo, message), -1);
    EXPECT_EQ(message, kPackageUnreadableMessage);
    LoadedPackage package;
    EXPECT_EQ(packageRead(fifo, package, message), -1);
    EXPECT_EQ(message, kPackageInvalidMessage);
    std::string list;
    int length = 0;
    EXPECT_EQ(readPackageInfo(fifo.c_str(), list, length), -1);
}

TEST(PackageLoad, FailedReadLeavesTheRecordAlone) {
    TempDir dir;
    LoadedPackage package;
    package.narrowPath = "previous";
    package.version = "0.9";
    const std::string path = dir.file("junk-1.0.quenta");
    ASSERT_TRUE(writeWholeFile(path, std::string(4096, 'j')));
    std::string message;
    EXPECT_EQ(packageRead(path, package, message), -1);
    EXPECT_EQ(message, kPackageInvalidMessage);
    EXPECT_EQ(package.narrowPath, "previous");
    EXPECT_EQ(package.version, "0.9");
}

TEST(PackageLoad, RecordFromChineseFileNames) {
    TempDir dir;
    struct Case {
        const char* utf8Name;
        int kind;
        int platformCode;
        const char* version;
    } cases[] = {
        {"A20多媒体控制盒-2.1_0_3_7.quenta", PACKAGE_KIND_MULTIMEDIA_CONTROL_BOX, 1, "2.1_3_7"},
        {"3516E Linux数字分机和5路10路主机-5.0.quenta", PACKAGE_KIND_LINUX_EXTENSION_MASTER, 6, "5.0"},
        {"地址盒-1.1.quenta", PACKAGE_KIND_ADDRESS_BOX, 0, "1.1"},
        {"通用-3.quenta", PACKAGE_KIND_GENERAL, 0, "3"},
    };
    PackageSpec spec;
    spec.modelList = gbk("型号甲,X1");
    for (const Case& c : cases) {
        const std::string path = dir.file(c.utf8Name);
        ASSERT_EQ(makePackageFile(path, spec), 0);
        LoadedPackage package;
        ASSERT_EQ(load(path, package), "") << c.utf8Name;
        EXPECT_EQ(package.kind, c.kind) << c.utf8Name;
        EXPECT_EQ(package.platformCode, c.platformCode) << c.utf8Name;
        EXPECT_EQ(package.version, gbk(c.version));
        EXPECT_EQ(package.narrowPath, gbk(path));
        EXPECT_EQ(package.narrowFileName, gbk(c.utf8Name));
        EXPECT_EQ(package.modelList, spec.modelList);
        EXPECT_EQ(package.localPath, path);
        EXPECT_TRUE(package.digestVerified);
        EXPECT_FALSE(applyPackageKindRules(package));
        EXPECT_EQ(package.modelList, spec.modelList);
    }
}

TEST(PackageLoad, MultimediaFilePackageFitsAllAndIsSingleIpOnly) {
    TempDir dir;
    const std::string path = dir.file("多媒体文件包-7.quenta");
    PackageSpec spec;
    spec.modelList = "M1,M2";
    spec.withDigest = false;
    ASSERT_EQ(makePackageFile(path, spec), 0);
    LoadedPackage package;
    ASSERT_EQ(load(path, package), "");
    EXPECT_EQ(package.kind, PACKAGE_KIND_MULTIMEDIA_FILE);
    EXPECT_FALSE(package.digestVerified);
    EXPECT_EQ(package.modelList, "M1,M2");
    EXPECT_TRUE(applyPackageKindRules(package));
    EXPECT_EQ(package.modelList, "ALL");
    EXPECT_EQ(packageVersionLabel(package), "该升级包版本为7，适合于以下产品");
}

TEST(PackageLoad, FileNameHeldInGbkOnDiskOpens) {
    TempDir dir;
    const std::string name = gbk("地址盒-4.2.quenta");  // not valid UTF-8
    const std::string path = dir.path() + "/" + name;
    ASSERT_EQ(makePackageFile(path, PackageSpec{}), 0);
    LoadedPackage package;
    ASSERT_EQ(load(path, package), "");
    EXPECT_EQ(package.kind, PACKAGE_KIND_ADDRESS_BOX);
    EXPECT_EQ(package.version, "4.2");
    EXPECT_EQ(package.narrowFileName, name);
}

TEST(PackageLoad, NarrowPathOver259BytesIsRefused) {
    TempDir dir;
    // Nested folders make a real file whose path is longer than 259 bytes.
    std::string folder = dir.path();
    while (folder.size() < 300) folder += "/" + std::string(60, 'd');
    ASSERT_TRUE(std::filesystem::create_directories(folder));
    const std::string path = folder + "/pkg-1.0.quenta";
    ASSERT_EQ(makePackageFile(path, PackageSpec{}), 0);
    LoadedPackage package;
    EXPECT_EQ(load(path, package), kPackageUnreadableMessage);
    // A path of 259 bytes is taken.
    std::string shortFolder = dir.path() + "/s";
    const std::string fileName = "/pkg-1.0.quenta";
    shortFolder += std::string(259 - shortFolder.size() - fileName.size(), 's');
    ASSERT_TRUE(std::filesystem::create_directories(shortFolder));
    const std::string path259 = shortFolder + fileName;
    ASSERT_EQ(path259.size(), 259u);
    ASSERT_EQ(makePackageFile(path259, PackageSpec{}), 0);
    EXPECT_EQ(load(path259, package), "");
}

TEST(PackageLoad, PathWithoutGbkFormIsRefused) {
    TempDir dir;
    const std::string path = dir.file("pkg-\xF0\x9F\x98\x80-1.0.quenta");  // an emoji: no GBK form
    ASSERT_EQ(makePackageFile(path, PackageSpec{}), 0);
    LoadedPackage package;
    EXPECT_EQ(load(path, package), kPackageUnreadableMessage);
}

TEST(PackageLoad, Texts) {
    EXPECT_STREQ(kPackageExtensionWarning, "昆塔升级文件扩展名默认为.quenta，您确信要用该文件升级吗？");
    LoadedPackage package;
    package.version = gbk("版本1");
    EXPECT_EQ(packageVersionLabel(package), "该升级包版本为版本1，适合于以下产品");
}

}  // namespace

// `quenta-upgrade-cli inspect` on maker packages, refused packages and Chinese file names; runs the
// built program (found through QUENTA_BINARY_DIR, which CTest sets).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "package/package_load.h"
#include "sim/package_maker.h"
#include "ss/ss_platform.h"
#include "tests/support/cli_runner.h"
#include "tests/support/temp_dir.h"

namespace {

using quenta_test::cliPath;
using quenta_test::CliRun;
using quenta_test::readWholeFile;
using quenta_test::TempDir;
using quenta_test::writeWholeFile;

CliRun runCli(const TempDir& dir, const std::vector<std::string>& args) {
    return quenta_test::runCli(args, dir);
}

std::string gbk(const std::string& utf8) {
    std::string out;
    EXPECT_EQ(ss_platform_utf8ToGbk(utf8, out), 0);
    return out;
}

class CliInspectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!quenta_test::cliBuilt()) GTEST_SKIP() << "quenta-upgrade-cli not built: " << cliPath();
    }
    TempDir dir_;
};

TEST_F(CliInspectTest, HelpListsVerbs) {
    const CliRun run = runCli(dir_, {"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("inspect"), std::string::npos) << run.out;
    EXPECT_EQ(runCli(dir_, {}).exitCode, 2);
    EXPECT_EQ(runCli(dir_, {"no-such-verb"}).exitCode, 2);
    EXPECT_EQ(runCli(dir_, {"inspect"}).exitCode, 2);
    EXPECT_EQ(runCli(dir_, {"inspect", "a", "b"}).exitCode, 2);
}

TEST_F(CliInspectTest, PrintsTheLoadedPackage) {
    struct Case {
        std::string utf8Name;
        PackageSpec spec;
        std::string expected;
    };
    PackageSpec digest;
    digest.modelList = gbk("X10,型号乙");
    PackageSpec plain;
    plain.withDigest = false;
    plain.head = PackageHead::SevenZip;
    const Case cases[] = {
        {"pkg-1.2_3_4_5.quenta", digest,
         "models: X10,型号乙\nversion: 1.2_4_5\nkind: general\nplatform: 0\ndigest: verified\n"},
        {"A20多媒体控制盒-2.0.quenta", plain,
         "models: ALL\nversion: 2.0\nkind: multimedia-control-box\nplatform: 1\ndigest: none\n"},
        {"3516D Linux数字分机和5路10路主机-版本3.quenta", digest,
         "models: X10,型号乙\nversion: 版本3\nkind: linux-extension-master\nplatform: 5\ndigest: verified\n"},
        {"多媒体文件包-1.quenta", plain,
         "models: ALL\nversion: 1\nkind: multimedia-file-package\nplatform: 0\ndigest: none\n"},
        {"管理服务器-1.quenta", plain,
         "models: ALL\nversion: 1\nkind: management-server\nplatform: 0\ndigest: none\n"},
        {"地址盒-1.quenta", plain, "models: ALL\nversion: 1\nkind: address-box\nplatform: 0\ndigest: none\n"},
    };
    for (const Case& c : cases) {
        const std::string path = dir_.file(c.utf8Name);
        ASSERT_EQ(makePackageFile(path, c.spec), 0);
        const CliRun run = runCli(dir_, {"inspect", path});
        EXPECT_EQ(run.exitCode, 0) << c.utf8Name << "\n" << run.err;
        EXPECT_EQ(run.out, c.expected) << c.utf8Name;
        EXPECT_EQ(run.err, "") << c.utf8Name;
    }
}

TEST_F(CliInspectTest, RefusedPackagesPrintTheWindowsMessage) {
    PackageSpec wrong;
    wrong.fault = PackageFault::WrongDigest;
    struct Case {
        const char* name;
        std::string content;
        std::string message;
    } cases[] = {
        {"small-1.0.quenta", std::string(2047, 's'), kPackageTooSmallMessage},
        {"wrong-1.0.quenta", makePackageBytes(wrong), kPackageInvalidMessage},
        {"noversion.quenta", makePackageBytes(PackageSpec{}), kPackageNoVersionMessage},
    };
    for (const Case& c : cases) {
        const std::string path = dir_.file(c.name);
        ASSERT_TRUE(writeWholeFile(path, c.content));
        const CliRun run = runCli(dir_, {"inspect", path});
        EXPECT_EQ(run.exitCode, 1) << c.name;
        EXPECT_EQ(run.out, "") << c.name;
        EXPECT_EQ(run.err, c.message + "\n") << c.name;
    }
    const CliRun absent = runCli(dir_, {"inspect", dir_.file("absent-1.0.quenta")});
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_EQ(absent.err, std::string(kPackageUnreadableMessage) + "\n");
}

TEST_F(CliInspectTest, WrongExtensionWarnsAndGoesOn) {
    const std::string path = dir_.file("pkg-1.0.QUENTA");
    ASSERT_EQ(makePackageFile(path, PackageSpec{}), 0);
    const CliRun run = runCli(dir_, {"inspect", path});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, std::string("warning: ") + kPackageExtensionWarning + "\n");
    EXPECT_NE(run.out.find("version: 1.0\n"), std::string::npos) << run.out;
}

TEST_F(CliInspectTest, GbkFileNameOnDiskOpens) {
    const std::string path = dir_.path() + "/" + gbk("地址盒-5.5.quenta");
    ASSERT_EQ(makePackageFile(path, PackageSpec{}), 0);
    const CliRun run = runCli(dir_, {"inspect", path});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "models: ALL\nversion: 5.5\nkind: address-box\nplatform: 0\ndigest: verified\n");
}

}  // namespace

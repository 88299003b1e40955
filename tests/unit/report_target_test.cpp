// Where the run report may be written (Linux file kinds): only a regular file or a new name; FIFOs,
// folders and links that lead nowhere are refused and left alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "engine/upgrade_report.h"
#include "tests/support/temp_dir.h"

namespace {

RunReport sampleReport() {
    RunReport r;
    r.packageFile = "QN通用升级包-2.4.1.quenta";
    r.devices.push_back(ReportDevice{"192.0.2.10", "QN-H200"});
    return r;
}

// Only a regular file or a new name is written: a FIFO or a folder is refused and left as it was, a
// link to a regular file replaces that file and stays a link.
TEST(ReportTargetTest, WritesOnlyRegularFilesOrNewNames) {
    quenta_test::TempDir folder{"report-"};
    std::string error;
    const std::string fifo = folder.file("fifo.csv");
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    EXPECT_EQ(-1, writeReportFile(sampleReport(), fifo, error));
    EXPECT_EQ("报告只能写到普通文件或新文件，不会替换：" + fifo, error);
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    // A FIFO where the temporary file would go is passed over, never opened.
    const std::string beside = folder.file("beside.json");
    ASSERT_EQ(0, ::mkfifo((beside + ".part").c_str(), 0600));
    ASSERT_EQ(0, writeReportFile(sampleReport(), beside, error)) << error;
    EXPECT_TRUE(std::filesystem::is_fifo(beside + ".part"));
    EXPECT_EQ(reportToJson(sampleReport()), quenta_test::readWholeFile(beside));

    const std::string dir = folder.file("dir.csv");
    std::filesystem::create_directory(dir);
    EXPECT_EQ(-1, writeReportFile(sampleReport(), dir, error));
    EXPECT_TRUE(std::filesystem::is_directory(dir));
    const std::string dangling = folder.file("dangling.csv");
    std::filesystem::create_symlink(folder.file("nowhere"), dangling);
    EXPECT_EQ(-1, writeReportFile(sampleReport(), dangling, error));
    EXPECT_FALSE(std::filesystem::exists(folder.file("nowhere")));

    const std::string real = folder.file("real.csv"), link = folder.file("link.csv");
    ASSERT_TRUE(quenta_test::writeWholeFile(real, "old"));
    std::filesystem::create_symlink(real, link);
    ASSERT_EQ(0, writeReportFile(sampleReport(), link, error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(reportToCsv(sampleReport()), quenta_test::readWholeFile(real));
}

}  // namespace

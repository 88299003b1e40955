// The report writers (CSV with BOM, JSON) and the end-of-run summary.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "engine/record_table_json.h"
#include "engine/upgrade_report.h"
#include "tests/support/temp_dir.h"

namespace {

RunReport sampleReport() {
    RunReport r;
    r.packageFile = "QN通用升级包-2.4.1.quenta";
    r.packageVersion = "2.4.1";
    r.packageKind = "general";
    r.packageMd5 = "0123456789abcdef0123456789abcdef";
    r.addressBox = "192.0.2.2";
    r.startTime = "2026-12-08 10:00:00";
    r.endTime = "2026-12-08 10:05:00";
    r.hostName = "field-laptop";
    ReportDevice ok{"192.0.2.10",
                    "QN-H200",
                    "QNT2H200001",
                    "1",
                    "0",
                    "2.3.9",
                    "2.4.1",
                    "升级完成",
                    "",
                    "",
                    "2026-12-08 10:00:01",
                    "2026-12-08 10:01:00",
                    65536};
    ReportDevice odd{"192.0.2.11",
                     "QN,\"S\"\n210",
                     "SN",
                     "N/A",
                     "N/A",
                     "2.3.9",
                     "2.3.9",
                     "升级失败",
                     "device_error",
                     "设备拒绝了升级包：存储空间不足",
                     "",
                     "",
                     0};
    r.devices = {ok, odd};
    return r;
}

TEST(UpgradeReportTest, CsvStartsWithABomAndQuotesWhatNeedsIt) {
    const std::string csv = reportToCsv(sampleReport());
    ASSERT_EQ(0u, csv.find("\xEF\xBB\xBF升级包,QN通用升级包-2.4.1.quenta\r\n"));
    EXPECT_NE(std::string::npos, csv.find("MD5,0123456789abcdef0123456789abcdef\r\n"));
    EXPECT_NE(std::string::npos,
              csv.find("\r\nIP地址,产品型号,序列号,主机号,分机号,升级前版本,升级后版本,状态,reason,原因,"));
    EXPECT_NE(std::string::npos,
              csv.find("192.0.2.10,QN-H200,QNT2H200001,1,0,2.3.9,2.4.1,升级完成,,,,,2026-12-08 10:00:01,"
                       "2026-12-08 10:01:00,65536,false,\r\n"));
    // The run did not stop; nothing names first devices or devices not started.
    EXPECT_NE(std::string::npos, csv.find("\r\n运行停止,否\r\n"));
    // A comma, a quote and a line feed stay inside one quoted field.
    EXPECT_NE(std::string::npos, csv.find("192.0.2.11,\"QN,\"\"S\"\"\n210\",SN,N/A,N/A,"));
    EXPECT_NE(std::string::npos, csv.find(",device_error,设备拒绝了升级包：存储空间不足,,,,,0,false,\r\n"));
    // The counts per outcome close the file.
    const std::string tail = "\r\n结果,台数\r\n升级完成,1\r\n升级失败,1\r\n合计,2\r\n";
    EXPECT_EQ(csv.size() - tail.size(), csv.rfind(tail)) << csv;
}

// Cells a spreadsheet would run as formulas get a leading apostrophe in the CSV; numbers stay
// numbers; the JSON keeps the device's text exact.
TEST(UpgradeReportTest, FormulaCellsAreNeutralisedInCsvOnly) {
    EXPECT_EQ("'=1+2", csvField("=1+2"));
    EXPECT_EQ("'+1", csvField("+1"));
    EXPECT_EQ("'-", csvField("-"));
    EXPECT_EQ("'@SUM(A1)", csvField("@SUM(A1)"));
    EXPECT_EQ("'\tx", csvField("\tx"));
    EXPECT_EQ("\"'\rx\"", csvField("\rx"));
    EXPECT_EQ("\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"", csvField("=HYPERLINK(\"http://x\",\"y\")"));
    EXPECT_EQ("2.4.1-beta", csvField("2.4.1-beta"));
    EXPECT_EQ("-7,'-7,true\n", csvRecord({std::int64_t{-7}, std::string("-7"), true}, "\n"));

    RunReport report = sampleReport();
    report.devices[0].model = "=cmd|' /C calc'!A0";
    report.devices[0].serialNum = "@SN";
    report.packageFile = "+x.quenta";
    const std::string csv = reportToCsv(report);
    EXPECT_NE(std::string::npos, csv.find("升级包,'+x.quenta\r\n"));
    EXPECT_NE(std::string::npos, csv.find("192.0.2.10,'=cmd|' /C calc'!A0,'@SN,1,0,"));
    EXPECT_NE(std::string::npos, csv.find(",65536,false,\r\n"));
    nlohmann::json j = nlohmann::json::parse(reportToJson(report));
    EXPECT_EQ("=cmd|' /C calc'!A0", j["devices"][0]["model"]);
    EXPECT_EQ("@SN", j["devices"][0]["serial"]);
}

// Control characters reach a terminal in a visible form; other text, UTF-8 included, is unchanged.
TEST(UpgradeReportTest, TerminalTextShowsControlCharacters) {
    EXPECT_EQ("\\x1b[2J\\x07ok", terminalText("\x1b[2J\aok"));
    EXPECT_EQ("a\\x00b\\x7f\\x0a", terminalText(std::string("a\0b\x7f\n", 5)));
    EXPECT_EQ("\\xc2\\x9b2J", terminalText("\xC2\x9B"
                                           "2J"));  // C1 CSI
    EXPECT_EQ("升级完成 é \\", terminalText("升级完成 é \\"));
}

TEST(UpgradeReportTest, JsonCarriesEveryFieldAndSurvivesBadBytes) {
    RunReport report = sampleReport();
    report.devices[1].serialNum = "\xFF\xFE";  // not UTF-8: replaced, never a failure
    nlohmann::json j = nlohmann::json::parse(reportToJson(report));
    EXPECT_EQ("QN通用升级包-2.4.1.quenta", j["package"]["file"]);
    EXPECT_EQ("general", j["package"]["kind"]);
    EXPECT_EQ("192.0.2.2", j["addressBox"]);
    EXPECT_EQ("field-laptop", j["host"]);
    EXPECT_EQ("1.0", j["toolVersion"]);
    ASSERT_EQ(2u, j["devices"].size());
    EXPECT_EQ(65536, j["devices"][0]["bytesSent"]);
    EXPECT_EQ("QN,\"S\"\n210", j["devices"][1]["model"]);
    EXPECT_EQ("device_error", j["devices"][1]["reason"]);
    EXPECT_EQ("\xEF\xBF\xBD\xEF\xBF\xBD", j["devices"][1]["serial"]);
    // The counts per outcome, in the status table's order, and the total.
    ASSERT_EQ(2u, j["counts"].size());
    EXPECT_EQ("升级完成", j["counts"][0]["outcome"]);
    EXPECT_EQ(1, j["counts"][1]["count"]);
    EXPECT_EQ(2, j["total"]);
}

// The JSON written row by row is byte for byte the document the whole tree would give.
TEST(UpgradeReportTest, StreamedJsonIsTheWholeDocumentsText) {
    for (size_t devices : {0u, 1u, 2u}) {
        RunReport report = sampleReport();
        report.devices.resize(devices);
        const std::string streamed = reportToJson(report);
        EXPECT_EQ(jsonText(nlohmann::ordered_json::parse(streamed)) + "\n", streamed) << devices;
    }
    const std::vector<FieldSpec> fields = {{"a", "A"}, {"b", "B"}};
    for (size_t rows : {0u, 3u}) {
        std::string streamed;
        writeJsonRecords(
            fields, rows,
            [](size_t i) {
                return FieldRow{std::string("x\n\"") + char('0' + i), i % 2 == 0};
            },
            0, [&streamed](std::string_view piece) { streamed.append(piece); });
        EXPECT_EQ(jsonText(nlohmann::ordered_json::parse(streamed)), streamed) << rows;
    }
}

TEST(UpgradeReportTest, WritesByExtensionReplacesWholeAndReportsFailures) {
    quenta_test::TempDir folder{"report-"};
    std::string error;
    const std::string json = folder.path() + "/报告.JSON";
    ASSERT_EQ(0, writeReportFile(sampleReport(), json, error)) << error;
    EXPECT_EQ(0u, quenta_test::readWholeFile(json).find('{'));
    const std::string csv = folder.path() + "/r.csv";
    ASSERT_EQ(0, writeReportFile(RunReport{}, csv, error));
    ASSERT_EQ(0, writeReportFile(sampleReport(), csv, error));  // replaces the earlier one
    EXPECT_EQ(reportToCsv(sampleReport()), quenta_test::readWholeFile(csv));

    EXPECT_EQ(-1, writeReportFile(sampleReport(), folder.path() + "/missing/r.csv", error));
    EXPECT_EQ("无法写入报告文件：" + folder.path() + "/missing/r.csv", error);
    EXPECT_EQ(-1, writeReportFile(sampleReport(), "", error));
    // Nothing half-written is left behind.
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        EXPECT_EQ(std::string::npos, entry.path().string().find(".part")) << entry.path();
}

// The machine's name comes from the platform layer (the wide computer name on Windows).
TEST(UpgradeReportTest, TheReportNamesThisComputer) {
    const std::string host = reportHostName();
    EXPECT_FALSE(host.empty());
    EXPECT_EQ(std::string::npos, host.find('\0'));
}

TEST(UpgradeReportTest, SummaryKeepsTheFirstLineAndHintsAtRetryOnlyAfterFailures) {
    EXPECT_EQ("升级完成！\n成功：3 台\n失败：0 台\n未验证：1 台", runSummaryText(RunSummary{3, 0, 1}));
    const std::string failed = runSummaryText(RunSummary{1, 2, 0});
    EXPECT_EQ(0u, failed.find("升级完成！\n成功：1 台\n失败：2 台\n未验证：0 台\n"));
    EXPECT_NE(std::string::npos, failed.find("重试失败的设备"));
    // Only failures that need a person on site: no retry hint, their count instead.
    RunSummary onSite{0, 2, 0};
    onSite.onSite = 2;
    EXPECT_EQ("升级完成！\n成功：0 台\n失败：2 台\n未验证：0 台\n2 台失败的设备需要现场处理。",
              runSummaryText(onSite));
    // A cancelled run says so, counts the devices it never started and names its report.
    RunSummary cancelled{1, 0, 1};
    cancelled.cancelled = true;
    cancelled.notStarted = 5;
    cancelled.reportPath = "/r/192.0.2.2_20261208_100000.csv";
    EXPECT_EQ(
        "升级已取消\n成功：1 台\n失败：0 台\n未验证：1 台\n未升级：5 "
        "台\n报告已保存：/r/192.0.2.2_20261208_100000.csv",
        runSummaryText(cancelled));
    cancelled.reportPath.clear();
    cancelled.reportError = "磁盘已满";
    EXPECT_NE(std::string::npos, runSummaryText(cancelled).find("\n报告未能保存：磁盘已满"));
}

// A run's own report: named by the address box and the start time, never replacing an earlier one.
TEST(UpgradeReportTest, ARunSavesItsOwnReportUnderAFreeName) {
    EXPECT_EQ("192.0.2.2_20261208_100000.csv", runReportFileName("192.0.2.2", "2026-12-08 10:00:00"));
    EXPECT_EQ("report.csv", runReportFileName("", ""));
    EXPECT_EQ("a_b_c_20261208_100000.csv", runReportFileName("a/b\\c", "2026-12-08 10:00:00"));
    quenta_test::TempDir folder{"own-report-"};
    const std::string reports = folder.path() + "/tool/reports";  // made when missing
    std::string first, second, error;
    ASSERT_EQ(0, saveRunReport(sampleReport(), reportRowsOf(sampleReport()), reports, first, error)) << error;
    ASSERT_EQ(0, saveRunReport(sampleReport(), reportRowsOf(sampleReport()), reports, second, error))
        << error;
    EXPECT_EQ(reports + "/192.0.2.2_20261208_100000.csv", first);
    EXPECT_EQ(reports + "/192.0.2.2_20261208_100000_2.csv", second);
    EXPECT_EQ(0u, quenta_test::readWholeFile(first).find("\xEF\xBB\xBF升级包,"));
    // A file where the folder should be: refused with a message.
    const std::string blocked = folder.file("blocked");
    quenta_test::writeWholeFile(blocked, "x");
    EXPECT_EQ(-1, saveRunReport(sampleReport(), reportRowsOf(sampleReport()), blocked, first, error));
    EXPECT_FALSE(error.empty());
}

}  // namespace

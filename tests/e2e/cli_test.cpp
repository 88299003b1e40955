// test-labels: threads
// quenta-upgrade-cli query / upgrade against an in-process simulated site (the binary runs in this
// test's private namespace): output formats, exit codes, refusals.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "engine/flow_text.h"
#include "protocol/ss_pair.h"
#include "tests/support/cli_runner.h"
#include "tests/support/engine_site.h"
#include "tests/support/netns.h"
#include "tests/support/temp_dir.h"

QUENTA_TEST_IN_PRIVATE_NAMESPACE(80);

using namespace engine_test;

namespace {

using quenta_test::CliRun;
using quenta_test::shellQuoted;

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!quenta_test::cliBuilt())
            GTEST_SKIP() << "quenta-upgrade-cli not built: " << quenta_test::cliPath();
        site = std::make_unique<SimSite>(mixed.config);
        std::string error;
        ASSERT_EQ(0, site->open(error)) << error;
        ASSERT_EQ(0, site->start());
    }
    void TearDown() override {
        if (site) site->stop();
    }
    // The site again, after a change to mixed.config.
    void restartSite() {
        site->stop();
        site = std::make_unique<SimSite>(mixed.config);
        std::string error;
        ASSERT_EQ(0, site->open(error)) << error;
        ASSERT_EQ(0, site->start());
    }
    CliRun run(const std::string& arguments) {
        return quenta_test::runCli(quenta_test::shellWords(arguments), folder);
    }
    static int countOf(const std::string& text, const std::string& piece) {
        int n = 0;
        for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
        return n;
    }

    quenta_test::ScopedDriveRoot drive;
    quenta_test::TempDir folder{"cli-"};
    MixedSite mixed = makeMixedSite();
    std::string package = writePackage(folder.path(), "QN通用升级包-2.4.1.quenta",
                                       "QN-H200,QN-S210,QN-D310,QN-Q800", "2.4.1", 128 * 1024);
    std::unique_ptr<SimSite> site;
};

TEST_F(CliTest, QueryPrintsTheListAsJsonWithEveryKey) {
    CliRun r = run("query --package " + shellQuoted(package) + " --address-box " + mixed.addressBoxIp +
                   " --models QN-H200,QN-S210,QN-D310 --format json");
    ASSERT_EQ(0, r.exitCode) << r.err;
    int rows = mixed.count(Expect::upToDate) + mixed.count(Expect::older) + mixed.count(Expect::uploadFails);
    EXPECT_EQ(rows, countOf(r.out, "\"ip\": "));
    for (const char* key :
         {"\"checked\": ", "\"status\": ", "\"master\": ", "\"slave\": ", "\"model\": ", "\"serial\": ",
          "\"softVersion\": ", "\"hardVersion\": ", "\"kernelVersion\": ", "\"protocol\": "})
        EXPECT_EQ(rows, countOf(r.out, key)) << key;
    EXPECT_EQ(rows, countOf(r.out, "\"status\": \"已连接\""));
    EXPECT_EQ(mixed.count(Expect::older) + mixed.count(Expect::uploadFails),
              countOf(r.out, "\"checked\": true"));
    EXPECT_EQ('[', r.out.front());
    EXPECT_NE(std::string::npos, r.err.find("个不同版本的设备可以升级")) << "the prompt, answered no";
}

TEST_F(CliTest, QueryCsvWithFailedDevices) {
    CliRun r = run("query --package " + shellQuoted(package) + " --address-box " + mixed.addressBoxIp +
                   " --models QN-H200,QN-S210,QN-D310 --show-failed --format csv --quiet");
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(
        0u, r.out.find(
                "checked,status,master,slave,ip,model,serial,softVersion,hardVersion,kernelVersion,protocol,"
                "reason,reasonText\n"));
    // Devices that answered without the keys a row needs have no row (they did answer).
    EXPECT_EQ(mixed.count(Expect::silent) + static_cast<int>(mixed.phantoms.size()),
              countOf(r.out, ",连接失败,"));
    EXPECT_EQ(0, countOf(r.out, ",missing_keys,"));
    EXPECT_EQ(mixed.count(Expect::silent) + static_cast<int>(mixed.phantoms.size()),
              countOf(r.out, ",never_answered,设备从未应答"));
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST_F(CliTest, UpgradeExitsTwoWhenADeviceFailedAndPrintsTheFinalList) {
    CliRun r = run("upgrade --package " + shellQuoted(package) + " --address-box " + mixed.addressBoxIp +
                   " --models QN-H200,QN-S210,QN-D310 --format csv --no-stages");
    EXPECT_EQ(2, r.exitCode) << r.err;
    EXPECT_EQ(mixed.count(Expect::older), countOf(r.out, ",升级完成,"));
    EXPECT_EQ(mixed.count(Expect::uploadFails), countOf(r.out, ",升级失败,"));
    EXPECT_NE(std::string::npos, r.err.find("升级完成！"));
    EXPECT_NE(std::string::npos, r.err.find(" 正在升级"));
}

TEST_F(CliTest, UpgradeVerifiesRetriesAndWritesTheReport) {
    const std::string report = folder.file("报告.json");
    CliRun r = run(
        "upgrade --package " + shellQuoted(package) + " --address-box " + mixed.addressBoxIp +
        " --models QN-H200,QN-S210,QN-D310 --no-stages --verify-timeout 20 --retry 1 --recover --report " +
        shellQuoted(report) + " --format json --quiet");
    EXPECT_EQ(2, r.exitCode) << r.err;
    // The summary on stderr, once per run (the retry is a run of its own). Devices whose answers come
    // marked are listed by the listener and counted among the older ones.
    EXPECT_NE(std::string::npos,
              r.err.find("升级完成！\n成功：" + std::to_string(mixed.count(Expect::older)) + " 台\n失败：" +
                         std::to_string(mixed.count(Expect::uploadFails))))
        << r.err;
    EXPECT_EQ(mixed.count(Expect::uploadFails), countOf(r.out, "\"status\": \"升级失败\""));
    EXPECT_EQ(mixed.count(Expect::uploadFails) - countOf(r.out, "\"reason\": \"device_error\"") -
                  countOf(r.out, "\"reason\": \"invalid_reply\"") -
                  countOf(r.out, "\"reason\": \"transfer_broken\"") -
                  countOf(r.out, "\"reason\": \"no_upload_port\"") -
                  countOf(r.out, "\"reason\": \"no_verdict\""),
              countOf(r.out, "\"reason\": \"tcp_not_supported\""));
    EXPECT_EQ(2, countOf(r.out, "\"reasonText\": \"设备拒绝了升级包：存储空间不足\""));
    // Failures worth retrying were tried twice (the run and one retry); those that need a person on
    // site once, and the retry said how many it left out.
    std::map<std::string, std::string> reasons;
    for (const auto& row : nlohmann::json::parse(r.out)) reasons[row["ip"]] = row["reason"];
    SimRecord record = site->record();
    int retried = 0, leftOut = 0;
    for (const auto& d : mixed.devices) {
        if (d.expect != Expect::uploadFails) continue;
        const bool onSite = reasons[d.ip] == "tcp_not_supported" || reasons[d.ip] == "no_upload_port" ||
                            reasons[d.ip] == "device_error";
        (onSite ? leftOut : retried)++;
        if (d.tcp) {
            EXPECT_EQ(onSite ? 1 : 2, record.countReceived(d.ip, "StartUploadService")) << d.ip;
        }
    }
    EXPECT_NE(std::string::npos, r.err.find(formatString(flowtext::kRetryLeftOut, retried, leftOut)))
        << r.err;
    const std::string written = quenta_test::readWholeFile(report);
    EXPECT_NE(std::string::npos, written.find("\"toolVersion\": \"1.0\"")) << written.substr(0, 400);
    EXPECT_EQ(leftOut + mixed.count(Expect::noRow), countOf(written, "\"reasonKind\": \"on_site\""));
    // The report also names the devices that answered without the keys a row needs, and those that
    // never answered (no 连接失败 rows without --show-failed), and ends with the counts.
    const int silent = mixed.count(Expect::silent) + static_cast<int>(mixed.phantoms.size());
    EXPECT_EQ(countOf(r.out, "\"ip\": ") + mixed.count(Expect::noRow) + silent, countOf(written, "\"ip\": "));
    EXPECT_EQ(mixed.count(Expect::noRow), countOf(written, "\"reason\": \"missing_keys\""));
    EXPECT_EQ(silent, countOf(written, "\"reason\": \"never_answered\""));
    EXPECT_NE(std::string::npos,
              written.find("\"outcome\": \"连接失败\",\n      \"count\": " + std::to_string(silent)));
    EXPECT_NE(std::string::npos, r.err.find("报告已保存：" + report + "\n")) << r.err;
    // Each run saved its own report as well, in the work folder's reports, and its summary names it.
    const std::string reports = drive.path() + "/C/Work/quenta/reports/";
    EXPECT_EQ(2, countOf(r.err, "报告已保存：" + reports + mixed.addressBoxIp + "_")) << r.err;

    // A report that cannot be written: exit 1 with the reason.
    r = run("query --package " + shellQuoted(package) + " --address-box " + mixed.addressBoxIp +
            " --report " + shellQuoted(folder.file("no-such-folder/r.csv")) + " --quiet");
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("无法写入报告文件")) << r.err;
    for (const char* bad : {"--retry x", "--verify-timeout 0", "--report"}) {
        r = run("upgrade --package " + shellQuoted(package) + " --address-box " + mixed.addressBoxIp + " " +
                bad);
        EXPECT_EQ(1, r.exitCode) << bad;
    }
}

// Ctrl+C during a run cancels it as "取消" does: the summary says so and counts what never started,
// the list and the reports follow, every address the address box named is in the report, exit 130. A
// second Ctrl+C ends the program at once.
TEST_F(CliTest, CtrlCCancelsTheRunAndStillWritesTheReport) {
    int named = static_cast<int>(mixed.phantoms.size());
    for (const auto& d : mixed.devices)
        if (d.expect != Expect::notAsked) ++named;
    const std::string report = folder.file("cancelled.csv");
    const std::string upgrade = "upgrade --package " + shellQuoted(package) + " --address-box " +
                                mixed.addressBoxIp +
                                " --models QN-H200,QN-S210,QN-D310 --format csv --report ";
    CliRun r = quenta_test::runCliInterrupted(quenta_test::shellWords(upgrade + shellQuoted(report)), folder,
                                              " 正在升级", 1);
    EXPECT_EQ(130, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("已按 Ctrl+C")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("升级已取消\n成功：")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("\n未升级：")) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("升级完成！")) << r.err;
    EXPECT_EQ(0, countOf(r.out, ",正在升级,") + countOf(r.out, ",等待升级,")) << "every job ended";
    // Both reports (the run's own and --report) list every named address and end with the counts.
    const std::string written = quenta_test::readWholeFile(report);
    EXPECT_EQ(named, countOf(written, "\r\n192.0.2.")) << written;
    EXPECT_NE(std::string::npos, written.find("\r\n合计," + std::to_string(named) + "\r\n"));
    const std::string reports = drive.path() + "/C/Work/quenta/reports/";
    const size_t saved = r.err.find("报告已保存：" + reports);
    ASSERT_NE(std::string::npos, saved) << r.err;
    const size_t nameStart = saved + std::string("报告已保存：").size();
    const std::string own =
        quenta_test::readWholeFile(r.err.substr(nameStart, r.err.find('\n', nameStart) - nameStart));
    EXPECT_EQ(named, countOf(own, "\r\n192.0.2."));

    r = quenta_test::runCliInterrupted(quenta_test::shellWords(upgrade + shellQuoted(report)), folder,
                                       " 正在升级", 2);
    EXPECT_EQ(130, r.exitCode) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("升级已取消")) << "ended at once, without the summary";
}

TEST_F(CliTest, SingleIpUpgradeSucceeds) {
    std::vector<std::string> older;
    for (const auto& d : mixed.devices)
        if (d.expect == Expect::older) older.push_back(d.ip);
    ASSERT_GE(older.size(), 2u);
    const std::string a = older[0], b = older[1];
    CliRun r = run("upgrade --package " + shellQuoted(package) + " --address-box " + mixed.addressBoxIp +
                   " --ip " + a + " --ip " + b + " --format json --quiet");
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(2, countOf(r.out, "\"status\": \"升级完成\""));
}

TEST_F(CliTest, RefusalsPrintTheWindowsMessageAndExitOne) {
    struct Case {
        std::string arguments, message;
    } cases[] = {
        {"query --package " + shellQuoted(package) + " --address-box " + mixed.phantoms[0],
         "地址盒无应答，请检查IP地址和网络连接"},
        {"query --package " + shellQuoted(package) + " --address-box 192.0.2.999", "非法地址盒IP"},
        {"query --package " + shellQuoted(folder.file("missing.quenta")) + " --address-box " +
             mixed.addressBoxIp,
         "非法文件，该文件不可读！"},
        {"upgrade --package " + shellQuoted(package) + " --address-box " + mixed.addressBoxIp +
             " --ip 0.0.0.0 --quiet",
         "请先输入要升级设备的IP地址"},
        {"upgrade --package " + shellQuoted(package) + " --address-box " + mixed.addressBoxIp + " --ip " +
             mixed.phantoms[0],
         "不能从" + mixed.phantoms[0] + "获得系统信息，或许它的软件版本太老"},
    };
    for (const auto& c : cases) {
        CliRun r = run(c.arguments);
        EXPECT_EQ(1, r.exitCode) << c.arguments;
        EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
    }
}

// An address box that answers without its serial number: the refusal's reason on stderr (also with
// --quiet), nothing on stdout, exit 1.
TEST_F(CliTest, AnAddressBoxWithoutSerialNumberIsARefusal) {
    mixed.config.addressBox->device.faults.noSerialNum = true;
    ASSERT_NO_FATAL_FAILURE(restartSite());
    for (const char* quiet : {"", " --quiet"}) {
        CliRun r = run("query --package " + shellQuoted(package) + " --address-box " + mixed.addressBoxIp +
                       " --format json" + quiet);
        EXPECT_EQ(1, r.exitCode) << quiet;
        EXPECT_EQ(1, countOf(r.err, "不能从指定的地址盒IP获得系统信息，或许它的软件版本太老！")) << r.err;
        EXPECT_EQ("", r.out);
    }
}

// A device's texts with control characters and formula starts: a visible form in the table, an
// apostrophe in the CSV, exact in the JSON.
TEST_F(CliTest, DeviceTextIsMadeSafeForTerminalsAndSpreadsheets) {
    std::string ip;
    for (const auto& d : mixed.devices)
        if (d.expect == Expect::upToDate) ip = d.ip;
    ASSERT_FALSE(ip.empty());
    for (auto& device : mixed.config.devices)
        if (device.ip == ip) {
            device.hardVersion = "=HYPERLINK(\"http://x\")";
            device.kernelVersion = "\x1b[2J\x07-1";
        }
    ASSERT_NO_FATAL_FAILURE(restartSite());
    const std::string query = "query --package " + shellQuoted(package) + " --address-box " +
                              mixed.addressBoxIp + " --models QN-H200,QN-S210,QN-D310 --quiet --format ";
    CliRun r = run(query + "table");
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(std::string::npos, r.out.find('\x1b'));
    EXPECT_EQ(std::string::npos, r.out.find('\x07'));
    EXPECT_NE(std::string::npos, r.out.find("\\x1b[2J\\x07-1")) << r.out;
    r = run(query + "csv");
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.out.find(",\"'=HYPERLINK(\"\"http://x\"\")\",")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find(",\x1b[2J\x07-1,")) << "a CSV holds the text itself";
    EXPECT_EQ(std::string::npos, r.out.find(",=HYPERLINK"));
    r = run(query + "json");
    EXPECT_NE(std::string::npos, r.out.find("\"hardVersion\": \"=HYPERLINK(\\\"http://x\\\")\"")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("\"kernelVersion\": \"\\u001b[2J\\u0007-1\"")) << r.out;
}

// --report on another spelling of the package, or on a FIFO: refused with the reason, exit 1, and
// the file or node as it was.
TEST_F(CliTest, AReportNeverReplacesThePackageOrASpecialFile) {
    const std::string content = quenta_test::readWholeFile(package);
    const std::string fifo = folder.file("fifo.csv");
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    const std::string spelling = folder.path() + "//./QN通用升级包-2.4.1.quenta";
    struct Case {
        std::string target, message;
    } cases[] = {
        {spelling, "报告不能写到升级包上：" + spelling},
        {fifo, "报告只能写到普通文件或新文件，不会替换：" + fifo},
    };
    for (const auto& c : cases) {
        CliRun r = run("query --package " + shellQuoted(package) + " --address-box " + mixed.addressBoxIp +
                       " --quiet --report " + shellQuoted(c.target));
        EXPECT_EQ(1, r.exitCode) << c.target;
        EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
    }
    EXPECT_EQ(content, quenta_test::readWholeFile(package));
    struct stat node {};
    ASSERT_EQ(0, ::stat(fifo.c_str(), &node));
    EXPECT_TRUE(S_ISFIFO(node.st_mode));
}

// A list that cannot be written (a reader that went away; /dev/full where it may be opened) is an
// error in every format: the reason on stderr, exit 1.
TEST_F(CliTest, AListThatCannotBeWrittenExitsOne) {
    const std::string query = "query --package " + shellQuoted(package) + " --address-box " +
                              mixed.addressBoxIp + " --show-failed --quiet --format ";
    for (const char* format : {"table", "csv", "json"}) {
        int ends[2];
        ASSERT_EQ(0, ::pipe(ends));
        ::close(ends[0]);
        CliRun r = quenta_test::runCli(quenta_test::shellWords(query + format), folder, ends[1]);
        ::close(ends[1]);
        EXPECT_EQ(1, r.exitCode) << format;
        EXPECT_EQ(1, countOf(r.err, "无法写出设备列表：标准输出写入失败")) << r.err;
    }
    if (::access("/dev/full", W_OK) != 0) return;
    const int full = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    CliRun r = quenta_test::runCli(quenta_test::shellWords(query + "json"), folder, full);
    ::close(full);
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ(1, countOf(r.err, "无法写出设备列表：标准输出写入失败")) << r.err;
}

// No listener port can be bound (every port of 5360-5459 is held without address sharing): the verb
// names the reason once, with and without --quiet, and exits 1.
TEST_F(CliTest, ServerThatCannotStartIsReportedOnceAndExitsOne) {
    site->stop();  // its sockets share port 5360; only sockets that refuse sharing block the listener
    site.reset();
    std::vector<int> held;
    for (int port = 5360; port < 5460; ++port) {
        int descriptor = ::socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(descriptor, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(static_cast<uint16_t>(port));
        ASSERT_EQ(0, ::bind(descriptor, reinterpret_cast<const sockaddr*>(&any), sizeof any)) << port;
        held.push_back(descriptor);
    }
    for (const char* quiet : {"", " --quiet"}) {
        CliRun r =
            run("query --package " + shellQuoted(package) + " --address-box " + mixed.addressBoxIp + quiet);
        EXPECT_EQ(1, r.exitCode) << quiet;
        EXPECT_EQ(1, countOf(r.err, "不能启动产品升级服务，系统将退出")) << r.err;
        EXPECT_EQ("", r.out);
    }
    for (int descriptor : held) ::close(descriptor);
}

}  // namespace

// What the windows share below their toolkits: the box seam's order (a queued answer, then the
// answerer, else the real box; every box recorded), the modal count, the file-dialog filters and
// the chosen extension of a saved report, the progress box's lines, the retry way in the end-of-run
// summary, and the dispatcher's wake-up that keeps at most one drain pending.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "engine/file_filter.h"
#include "engine/flow_dispatcher.h"
#include "engine/flow_wake.h"
#include "engine/front_end_text.h"
#include "engine/upgrade_flow.h"
#include "engine/upgrade_report.h"
#include "engine/window_flow_ui.h"
#include "tests/support/box_script.h"

namespace {

// A window whose real boxes answer `realAnswer` and whose save dialog picks `savePath` / `saveChosen`.
class FakeWindow : public WindowFlowUi {
  public:
    int realAnswer = IDNO;
    std::vector<int> depthsWhileShown;
    std::optional<std::string> savePath;
    std::size_t saveChosen = 0;
    int fileDialogs = 0;

    int runProgress(const std::string&, std::function<int()> task, bool) override { return task(); }
    void progressSearch(const std::optional<std::string>&, int) override {}
    void progressFailed(int, int) override {}
    void stateChanged(unsigned) override {}
    void startTimer(std::uint32_t, int) override {}
    void stopTimer(std::uint32_t) override {}
    void closeWindow() override {}

  protected:
    int showMessageBox(const ShownBox&) override {
        depthsWhileShown.push_back(modalDepth());
        return realAnswer;
    }
    std::optional<std::string> showOpenFile(const FileFilters&) override {
        ++fileDialogs;
        return "shown.quenta";
    }
    std::optional<std::string> showSaveFile(const FileFilters&, std::size_t& chosen) override {
        ++fileDialogs;
        chosen = saveChosen;
        return savePath;
    }
};

TEST(WindowFlowUi, QueuedAnswerThenAnswererThenTheRealBoxAllRecorded) {
    FakeWindow window;
    quenta_test::BoxScript script([](const ShownBox& box) -> std::optional<int> {
        if (box.title == "shown") return std::nullopt;
        return IDYES;
    });
    script.queueAnswer(IDOK);
    EXPECT_EQ(IDOK, window.messageBox("a", "queued", BoxIcon::stop, BoxButtons::ok));
    EXPECT_EQ(IDYES, window.messageBox("b", "answerer", BoxIcon::none, BoxButtons::yesNo));
    EXPECT_EQ(IDNO, window.messageBox("c", "shown", BoxIcon::none, BoxButtons::yesNo));
    EXPECT_EQ((std::vector<int>{1}), window.depthsWhileShown);  // only the last was shown, counted as modal
    EXPECT_EQ(0, window.modalDepth());
    const std::vector<ShownBox>& boxes = script.shownBoxes();
    ASSERT_EQ(3u, boxes.size());
    EXPECT_EQ("a", boxes[0].text);
    EXPECT_EQ(BoxIcon::stop, boxes[0].icon);
    EXPECT_EQ(IDYES, boxes[1].answer);
    EXPECT_EQ("shown", boxes[2].title);
    EXPECT_EQ(IDNO, boxes[2].answer);
}

TEST(WindowFlowUi, WithoutASeamEveryBoxIsShown) {
    FakeWindow window;
    window.realAnswer = IDYES;
    ASSERT_EQ(nullptr, installedBoxSeam());
    EXPECT_EQ(IDYES, window.messageBox("t", "x", BoxIcon::none, BoxButtons::yesNo));
    EXPECT_EQ(1u, window.depthsWhileShown.size());
    EXPECT_EQ("shown.quenta", window.chooseOpenFile(packageFileFilters()));
}

TEST(WindowFlowUi, FileDialogsTakeTheSeamsResultOnce) {
    FakeWindow window;
    quenta_test::BoxScript script;
    script.setNextOpenFile(std::nullopt);  // cancelled
    EXPECT_FALSE(window.chooseOpenFile(packageFileFilters()).has_value());
    EXPECT_EQ(0, window.fileDialogs);
    EXPECT_EQ("shown.quenta", window.chooseOpenFile(packageFileFilters()));  // the next one is shown
    script.setNextSaveFile("r.csv");
    EXPECT_EQ("r.csv", window.chooseSaveFile(reportFileFilters()));
    EXPECT_EQ(1, window.fileDialogs);
}

TEST(WindowFlowUi, SavedReportTakesTheChosenFiltersExtension) {
    FakeWindow window;
    window.savePath = "/tmp/report";
    window.saveChosen = 1;
    EXPECT_EQ("/tmp/report.json", window.chooseSaveFile(reportFileFilters()));
    window.saveChosen = 0;
    EXPECT_EQ("/tmp/report.csv", window.chooseSaveFile(reportFileFilters()));
    window.savePath = "/tmp/Report.CSV";
    EXPECT_EQ("/tmp/Report.CSV", window.chooseSaveFile(reportFileFilters()));
    window.savePath.reset();
    EXPECT_FALSE(window.chooseSaveFile(reportFileFilters()).has_value());
}

TEST(WindowFlowUi, EndsItsFlowOnce) {
    FakeWindow window;
    UpgradeFlow flow(window);
    EXPECT_FALSE(window.flowEnded());
    EXPECT_TRUE(window.endFlow(flow));
    EXPECT_TRUE(flow.destroyed());
    EXPECT_TRUE(window.flowEnded());
    EXPECT_FALSE(window.endFlow(flow));  // the window's own end after the flow closed it
}

TEST(FileFilter, ListsNamesPatternsAndTheChosenExtensionRule) {
    const FileFilters& packages = packageFileFilters();
    ASSERT_EQ(2u, packages.size());
    EXPECT_EQ("昆塔升级文件 (*.quenta)", nameWithPatterns(packages[0]));
    EXPECT_EQ("所有文件 (*.*)", nameWithPatterns(packages[1]));  // the name already says it
    EXPECT_EQ("*.a;*.b", joinedPatterns(FileFilter{"A", {"*.a", "*.b"}}, ";"));
    const FileFilters& reports = reportFileFilters();
    EXPECT_EQ("CSV 文件 (*.csv)", nameWithPatterns(reports[0]));
    EXPECT_EQ("JSON 文件 (*.json)", nameWithPatterns(reports[1]));
    EXPECT_EQ("r.json", pathWithChosenExtension("r.json", reports, 1));
    EXPECT_EQ("r.json.csv", pathWithChosenExtension("r.json", reports, 0));
    EXPECT_EQ("r.csv", pathWithChosenExtension("r", reports, 7));  // unknown index: the first filter
    EXPECT_EQ("r", pathWithChosenExtension("r", packages, 1));     // "*.*" adds nothing
    EXPECT_EQ("r", pathWithChosenExtension("r", {}, 0));
}

TEST(FrontEndText, ProgressLinesAndRetryWays) {
    ProgressLines lines{"正在测试连接，请稍后...", ""};
    lines.onSearch(std::string("10.0.0.7"), 0);
    EXPECT_EQ("正在测试连接，请稍后...", lines.line1);  // no count yet: line 1 stays
    EXPECT_EQ("正在连接设备：10.0.0.7", lines.line2);
    lines.onSearch(std::nullopt, 12);
    EXPECT_EQ("当前已发现设备数量：12", lines.line1);
    EXPECT_EQ("", lines.line2);
    lines.onFailed(5, 2);
    EXPECT_EQ("共有 5 连接失败设备，正在处理：2", lines.line2);

    const RunSummary failed{1, 2, 0};
    EXPECT_EQ(
        "升级完成！\n成功：1 台\n失败：2 台\n未验证：0 "
        "台\n失败的设备可以用设备列表右键菜单中的“重试失败的设备”再次升级。",
        runSummaryText(failed));
    EXPECT_EQ("升级完成！\n成功：1 台\n失败：2 台\n未验证：0 台\n失败的设备可以用 --retry N 再次升级。",
              runSummaryText(failed, flowtext::kRetryByOption));
}

TEST(FlowWake, OnePendingWakeUpAndNoneAfterDetach) {
    FlowDispatcher dispatcher;
    std::vector<std::function<void()>> posted;
    FlowWake wake(dispatcher, [&](std::function<void()> serve) {
        posted.push_back(std::move(serve));
        return true;
    });
    int ran = 0;
    dispatcher.post([&] { ++ran; });
    dispatcher.post([&] { ++ran; });
    ASSERT_EQ(1u, posted.size());  // the second waits for the first drain
    posted[0]();
    EXPECT_EQ(2, ran);
    dispatcher.post([&] { ++ran; });
    ASSERT_EQ(2u, posted.size());
    wake.detach();
    posted[1]();  // arrives after the window went: drains nothing
    EXPECT_EQ(2, ran);
    dispatcher.post([&] { ++ran; });
    EXPECT_EQ(2u, posted.size());
}

TEST(FlowWake, AFailedPostIsTriedAgainOnTheNextWakeUp) {
    FlowDispatcher dispatcher;
    int posts = 0;
    bool accept = false;
    FlowWake wake(dispatcher, [&](std::function<void()>) {
        ++posts;
        return accept;
    });
    dispatcher.post([] {});
    accept = true;
    dispatcher.post([] {});
    EXPECT_EQ(2, posts);
}

}  // namespace

// ListGlance: status counts kept through row changes, the run line, the view filter, and the list's
// sort ties in numeric IP order with the chosen sort kept for its re-application.
#include "engine/list_glance.h"

#include <gtest/gtest.h>

#include "engine/device_list.h"
#include "engine/device_status.h"

namespace {

uint32_t keyOf(int a, int b, int c, int d) {  // the first number in the lowest byte
    return static_cast<uint32_t>(a) | static_cast<uint32_t>(b) << 8 | static_cast<uint32_t>(c) << 16 |
           static_cast<uint32_t>(d) << 24;
}

// A list of `n` rows 10.0.x.y, all 已连接 and ticked, serial "SN" + index.
void fill(DeviceList& list, int n) {
    list.DefineColumns(buildDeviceColumnDescription());
    for (int i = 0; i < n; ++i) {
        int row = list.InsertRow(list.RowCount());
        const int a = i / 250, b = i % 250 + 1;
        list.SetCellText(row, DEVICE_COLUMN_IP, "10.0." + std::to_string(a) + "." + std::to_string(b));
        list.SetCellText(row, DEVICE_COLUMN_SERIAL, "SNab" + std::to_string(i));
        list.SetOwnerKey(row, keyOf(10, 0, a, b));
        setRowStatus(list, row, DEVICE_STATUS_CONNECTED);
        list.SetCheck(row, true);
    }
}

int countOf(const std::vector<StatusCount>& counts, int code) {
    for (const StatusCount& c : counts)
        if (c.code == code) return c.count;
    return -1;
}

}  // namespace

TEST(ListGlance, CountsFollowEveryKindOfRowChange) {
    DeviceList list;
    ListGlance glance(list);
    int notices = 0;
    glance.setOnCountsChanged([&] { ++notices; });
    fill(list, 6);
    EXPECT_GT(notices, 0);
    EXPECT_EQ(glance.total(), 6);
    EXPECT_EQ(glance.count(DEVICE_STATUS_CONNECTED), 6);

    setRowStatus(list, 0, DEVICE_STATUS_UPGRADE_FAILED);
    setRowStatus(list, 1, DEVICE_STATUS_UPGRADE_DONE);
    list.DeleteRow(2);
    list.SortByColumn(DEVICE_COLUMN_STATUS, false);
    const std::vector<StatusCount> counts = glance.counts();
    // 全部 first, then the statuses present in the table's order, under the table's texts.
    ASSERT_EQ(counts.size(), 4u);
    EXPECT_EQ(counts[0].text, glancetext::kAll);
    EXPECT_EQ(counts[0].count, 5);
    EXPECT_EQ(counts[1].text, deviceStatusEntry(DEVICE_STATUS_CONNECTED)->text);
    EXPECT_EQ(countOf(counts, DEVICE_STATUS_CONNECTED), 3);
    EXPECT_EQ(countOf(counts, DEVICE_STATUS_UPGRADE_DONE), 1);
    EXPECT_EQ(countOf(counts, DEVICE_STATUS_UPGRADE_FAILED), 1);
    // After the sort the per-row codes moved with their rows: changing a row by index counts right.
    for (int row = 0; row < list.RowCount(); ++row) setRowStatus(list, row, DEVICE_STATUS_WAIT_UPGRADE);
    EXPECT_EQ(glance.count(DEVICE_STATUS_WAIT_UPGRADE), 5);
    EXPECT_EQ(glance.count(DEVICE_STATUS_UPGRADE_FAILED), 0);
    // Every status of the table can be counted (a status added to the table is counted too).
    for (int code = 0; code < DEVICE_STATUS_COUNT; ++code) {
        setRowStatus(list, 0, code);
        EXPECT_EQ(glance.count(code), code == DEVICE_STATUS_WAIT_UPGRADE ? 5 : 1) << code;
    }
    list.DeleteAllRows();
    EXPECT_EQ(glance.total(), 0);
    EXPECT_EQ(glance.counts().size(), 1u);
}

TEST(ListGlance, RunLineText) {
    EXPECT_EQ(runLineText({10, 0, 0, 5000}), "已完成 0/10，失败 0，剩余 10，预计 --:--");
    // 4 done in 60 s: 6 left at 15 s each.
    EXPECT_EQ(runLineText({10, 4, 1, 60000}), "已完成 4/10，失败 1，剩余 6，预计 01:30");
    EXPECT_EQ(runLineText({700, 7, 0, 70000}), "已完成 7/700，失败 0，剩余 693，预计 115:30");
    EXPECT_EQ(runLineText({3, 3, 3, 1000}), "已完成 3/3，失败 3，剩余 0，预计 00:00");
    // Nonsense stays within bounds.
    EXPECT_EQ(runLineText({2, 5, 9, -1}), "已完成 2/2，失败 2，剩余 0，预计 00:00");
    EXPECT_EQ(runLineText({-1, 0, 0, 0}), "已完成 0/0，失败 0，剩余 0，预计 00:00");
    EXPECT_EQ(minutesSecondsText(59999), "00:59");
}

TEST(ListGlance, RunLineCountsOnlyTheRunsDevicesWithTheInjectedClock) {
    DeviceList list;
    int64_t now = 1000;
    ListGlance glance(list, [&now] { return now; });
    fill(list, 8);
    setRowStatus(list, 6, DEVICE_STATUS_UPGRADE_FAILED);  // from an earlier run: not this run's
    list.SetCheck(6, false);
    list.SetCheck(7, false);  // connected but not ticked: not in the run
    glance.beginRun();
    EXPECT_TRUE(glance.running());
    EXPECT_EQ(glance.runLine().total, 6);

    for (int row = 0; row < 6; ++row) setRowStatus(list, row, DEVICE_STATUS_WAIT_UPGRADE);
    setRowStatus(list, 0, DEVICE_STATUS_UPGRADING);
    setRowStatus(list, 0, DEVICE_STATUS_VERIFYING);
    setRowStatus(list, 0, DEVICE_STATUS_UPGRADE_DONE);
    setRowStatus(list, 1, DEVICE_STATUS_UPGRADE_FAILED);
    now += 20000;
    RunLine line = glance.runLine();
    EXPECT_EQ(line.finished, 2);
    EXPECT_EQ(line.failed, 1);
    EXPECT_EQ(runLineText(line), "已完成 2/6，失败 1，剩余 4，预计 00:40");
    // A cancel puts the queued rows back: they are not finished.
    for (int row = 2; row < 6; ++row) setRowStatus(list, row, DEVICE_STATUS_CONNECTED);
    EXPECT_EQ(glance.runLine().finished, 2);
    glance.endRun();
    EXPECT_FALSE(glance.running());
}

TEST(ListGlance, FilterShowsRowsWithoutTouchingChecksOrSelection) {
    DeviceList list;
    ListGlance glance(list);
    std::vector<std::pair<int, int>> ranges;
    glance.setOnVisibilityChanged([&](int first, int last) { ranges.emplace_back(first, last); });
    fill(list, 300);  // 10.0.0.1 .. 10.0.0.250, 10.0.1.1 .. 10.0.1.50
    list.SetCheck(3, false);
    list.SetSelected(5, true);
    setRowStatus(list, 4, DEVICE_STATUS_UPGRADE_FAILED);
    setRowStatus(list, 260, DEVICE_STATUS_UPGRADE_FAILED);

    ranges.clear();
    glance.setFilter({DEVICE_STATUS_UPGRADE_FAILED, ""});
    EXPECT_EQ(glance.visibleCount(), 2);
    EXPECT_TRUE(glance.rowVisible(4));
    EXPECT_TRUE(glance.rowVisible(260));
    EXPECT_FALSE(glance.rowVisible(3));
    EXPECT_EQ(ranges, (std::vector<std::pair<int, int>>{{0, 299}}));
    // A row that changes status enters or leaves the view alone.
    ranges.clear();
    setRowStatus(list, 7, DEVICE_STATUS_UPGRADE_FAILED);
    EXPECT_TRUE(glance.rowVisible(7));
    EXPECT_EQ(ranges, (std::vector<std::pair<int, int>>{{7, 7}}));
    setRowStatus(list, 4, DEVICE_STATUS_CONNECTED);
    EXPECT_FALSE(glance.rowVisible(4));

    // Search: part of the IP or of the serial number, case-insensitive, trimmed.
    glance.setFilter({-1, " 10.0.1.5"});
    EXPECT_EQ(glance.visibleCount(), 1 + 1);  // 10.0.1.5 and 10.0.1.50
    glance.setFilter({-1, "snAB29"});
    EXPECT_EQ(glance.visibleCount(), 11);  // SNab29, SNab290..299
    glance.setFilter({DEVICE_STATUS_UPGRADE_FAILED, "10.0.1."});
    EXPECT_EQ(glance.visibleCount(), 1);
    EXPECT_TRUE(glance.rowVisible(260));
    // Sorting moves the visibility with the rows.
    list.SortByColumn(DEVICE_COLUMN_IP, false);
    int shown = -1;
    for (int row = 0; row < list.RowCount(); ++row)
        if (glance.rowVisible(row)) shown = row;
    ASSERT_GE(shown, 0);
    EXPECT_EQ(list.GetItemText(shown, DEVICE_COLUMN_IP), "10.0.1.11");
    glance.setFilter({});
    EXPECT_EQ(glance.visibleCount(), 300);

    // Nothing of the filtering changed a check or the selection.
    EXPECT_EQ(list.CountRows(RC_ITEM_CHECKED), 299);
    EXPECT_EQ(list.CountRows(RC_ITEM_SELECTED), 1);
}

TEST(ListGlance, SortTiesInNumericIpOrderAndTheChosenSortIsKept) {
    DeviceList list;
    fill(list, 0);
    // Equal statuses; the IP texts would order 10.0.0.10 before 10.0.0.9 as text.
    const int hosts[] = {10, 9, 200, 1, 30};
    for (int h : hosts) {
        int row = list.InsertRow(list.RowCount());
        list.SetCellText(row, DEVICE_COLUMN_IP, "10.0.0." + std::to_string(h));
        list.SetOwnerKey(row, keyOf(10, 0, 0, h));
        setRowStatus(list, row, h == 30 ? DEVICE_STATUS_UPGRADE_FAILED : DEVICE_STATUS_UPGRADE_DONE);
    }
    for (bool ascending : {true, false}) {
        list.SortByColumn(DEVICE_COLUMN_STATUS, ascending);
        std::vector<std::string> ips;
        for (int row = 0; row < list.RowCount(); ++row)
            if (rowStatus(list, row) == DEVICE_STATUS_UPGRADE_DONE)
                ips.push_back(list.GetItemText(row, DEVICE_COLUMN_IP));
        EXPECT_EQ(ips, (std::vector<std::string>{"10.0.0.1", "10.0.0.9", "10.0.0.10", "10.0.0.200"}));
    }
    // A cell change resets the header's toggle but not the chosen sort, which applies again.
    const int done = list.FindRowByOwnerKey(keyOf(10, 0, 0, 9));
    setRowStatus(list, done, DEVICE_STATUS_UPGRADE_FAILED);
    EXPECT_EQ(list.SortColumn(), -1);
    EXPECT_EQ(list.ChosenSortColumn(), DEVICE_COLUMN_STATUS);
    EXPECT_FALSE(list.ChosenSortAscending());
    list.ReapplyChosenSort();
    std::vector<std::string> ips;  // descending: 升级完成 before 升级失败 (U+5B8C > U+5931), ties by IP
    for (int row = 0; row < list.RowCount(); ++row) ips.push_back(list.GetItemText(row, DEVICE_COLUMN_IP));
    EXPECT_EQ(ips,
              (std::vector<std::string>{"10.0.0.1", "10.0.0.10", "10.0.0.200", "10.0.0.9", "10.0.0.30"}));
    list.DefineColumns(buildDeviceColumnDescription());
    EXPECT_EQ(list.ChosenSortColumn(), -1);
}

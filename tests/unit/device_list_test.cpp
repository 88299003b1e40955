// DeviceList: column description parsing, the cell comparison and sort (engine/cell_order through the
// list), header-click rules, row counting, check-box clicks, colours, and the status table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/device_list.h"
#include "engine/device_status.h"

namespace {

// Records every notice, so tests can check what a view would be told.
struct RecordingObserver : DeviceListObserver {
    std::vector<std::string> log;
    void cellsChanged(int row, int first, int last) override {
        log.push_back("cells " + std::to_string(row) + " " + std::to_string(first) + "-" +
                      std::to_string(last));
    }
    void colorsChanged(int first, int last, bool text, bool back) override {
        log.push_back("colors " + std::to_string(first) + "-" + std::to_string(last) + (text ? " text" : "") +
                      (back ? " back" : ""));
    }
    void selectionChanged() override { log.push_back("selection"); }
    void checkChanged(int row, CheckClick click) override {
        log.push_back("check " + std::to_string(row) + (click == CheckClick::Double ? " double" : " single"));
    }
    void rowsSorted(int column, bool ascending, const std::vector<int>&) override {
        log.push_back("sorted " + std::to_string(column) + (ascending ? " asc" : " desc"));
    }
};

void fillDeviceColumns(DeviceList& list) {
    ASSERT_TRUE(list.DefineColumns(buildDeviceColumnDescription()));
}

int addRow(DeviceList& list, const std::string& text, int column = DEVICE_COLUMN_IP) {
    const int row = list.InsertRow(list.RowCount());
    list.SetCellText(row, column, text);
    return row;
}

std::vector<std::string> columnTexts(const DeviceList& list, int column) {
    std::vector<std::string> texts;
    for (int r = 0; r < list.RowCount(); ++r) texts.push_back(list.GetItemText(r, column));
    return texts;
}

}  // namespace

// ---- DefineColumns --------------------------------------------------------------------------------

struct ColumnCase {
    const char* description;
    std::vector<std::tuple<std::string, int, ColumnAlignment>> expected;
};

TEST(DeviceListColumns, DescriptionParsing) {
    const ColumnCase cases[] = {
        {"Name", {{"Name", 100, COLUMN_ALIGN_LEFT}}},
        {"Name,80,2", {{"Name", 80, COLUMN_ALIGN_RIGHT}}},
        {"Name,80,3", {{"Name", 80, COLUMN_ALIGN_LEFT}}},
        {"Name,80,1", {{"Name", 80, COLUMN_ALIGN_CENTER}}},
        {"Name,80", {{"Name", 80, COLUMN_ALIGN_LEFT}}},
        {";;,;,,;", {}},
        {"", {}},
        {"A,10,1;;B;,C,20,2,",
         {{"A", 10, COLUMN_ALIGN_CENTER}, {"B", 100, COLUMN_ALIGN_LEFT}, {"C", 20, COLUMN_ALIGN_RIGHT}}},
        // Empty pieces are skipped, so the format moves up into the width's place.
        {"A,,2", {{"A", 2, COLUMN_ALIGN_LEFT}}},
    };
    for (const ColumnCase& c : cases) {
        SCOPED_TRACE(c.description);
        DeviceList list;
        EXPECT_EQ(list.DefineColumns(c.description), !c.expected.empty());
        ASSERT_EQ(list.ColumnCount(), static_cast<int>(c.expected.size()));
        for (size_t i = 0; i < c.expected.size(); ++i) {
            const ListColumn* column = list.Column(static_cast<int>(i));
            ASSERT_NE(column, nullptr);
            EXPECT_EQ(column->heading, std::get<0>(c.expected[i]));
            EXPECT_EQ(column->width, std::get<1>(c.expected[i]));
            EXPECT_EQ(column->alignment, std::get<2>(c.expected[i]));
            EXPECT_FALSE(column->editable);
        }
    }
}

TEST(DeviceListColumns, DefineColumnsReplacesRowsAndDeviceTable) {
    DeviceList list;
    fillDeviceColumns(list);
    addRow(list, "10.0.0.1");
    list.SortByColumn(4, false);
    fillDeviceColumns(list);
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_EQ(list.SortColumn(), -1);
    ASSERT_EQ(list.ColumnCount(), DEVICE_COLUMN_COUNT);
    EXPECT_EQ(list.Column(0)->heading, "选择");
    EXPECT_EQ(list.Column(0)->width, 40);
    EXPECT_EQ(list.Column(2)->heading, "主机号");
    EXPECT_EQ(list.Column(2)->width, 80);
    EXPECT_EQ(list.Column(10)->heading, "协议");
    EXPECT_EQ(list.Column(10)->width, 70);
    for (int c = 0; c < list.ColumnCount(); ++c) EXPECT_EQ(list.Column(c)->alignment, COLUMN_ALIGN_CENTER);
    EXPECT_EQ(buildDeviceColumnDescription().substr(0, 24), "选择,40,1;状态,150,1");
}

// ---- CompareCells and sorting ---------------------------------------------------------------------

TEST(DeviceListCompare, RulesInOrder) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"9", "10", -1},      // hexadecimal 9 < 16
        {"2", "1A", -1},      // 2 < 26
        {"a", "B", -1},       // hexadecimal 10 < 11
        {"0x1F", "20", -1},   // 31 < 32
        {" 1F", "1f", 0},     // leading white space, case of digits
        {"7%", "50%", -1},    // decimal with a percent sign
        {"1.25", "1.5", -1},  // decimal
        {"-1.5", "0.5", -1},  // decimal (not hexadecimal: '.' )
        {"", "0", -1},        // empty before anything
        {"", "abc", -1},
        {"", "", 0},
        {"V1.10", "V1.9", -1},                  // text rule
        {"Bx", "ax", -1},                       // text rule: upper case before lower case
        {"7 %", "50%", 1},                      // " %" is not a single "%": text rule, '7' > '5'
        {"5%%", "40%%", 1},                     // two percent signs: text rule
        {"nan", "1", 1},                        // not a number: text rule ('n' > '1')
        {"2024-01-05", "2023-12-31 23:59", 1},  // dates
        {"2023/12/31", "2024/1/5", -1},
        {"2023-02-30", "2023-02-28", 1},                // not a date: text rule
        {"192.168.1.10", "192.168.1.9", -1},            // IP texts compare as text
        {"100000000000000000", "FFFFFFFFFFFFFFFF", 1},  // beyond 64 bits still ordered
        {"1000000000000000000", "100000000000000000", 1},
        {"正在升级", "已连接", 1},  // U+6B63 > U+5DF2
    };
    DeviceList list;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(list.CompareCells(c.a, c.b), c.expected);
        EXPECT_EQ(list.CompareCells(c.b, c.a), -c.expected);
    }
}

TEST(DeviceListCompare, Utf16CodeUnitOrderNotCodePointOrder) {
    DeviceList list;
    // U+FF21 (one UTF-16 unit 0xFF21) sorts after U+1F600 (surrogates 0xD83D...) in UTF-16 order,
    // although its code point is lower.
    EXPECT_EQ(list.CompareCells("\xEF\xBC\xA1", "\xF0\x9F\x98\x80"), 1);
}

TEST(DeviceListCompare, DateParserHookIsUsed) {
    DeviceList list;
    EXPECT_EQ(list.CompareCells("y", "x"), 1);
    list.SetDateParser([](std::string_view text) -> std::optional<int64_t> {
        if (text == "x") return 2;
        if (text == "y") return 1;
        return std::nullopt;
    });
    EXPECT_EQ(list.CompareCells("y", "x"), -1);
    list.SetDateParser({});
    EXPECT_EQ(list.CompareCells("y", "x"), 1);
}

TEST(DeviceListSort, AscendingAndDescendingOrders) {
    struct Case {
        std::vector<std::string> input;
        std::vector<std::string> ascending;
    };
    const Case cases[] = {
        {{"10", "9", "1A", "2"}, {"2", "9", "10", "1A"}},
        {{"50%", "7%", "100%", "0%"}, {"0%", "7%", "50%", "100%"}},
        {{"1.5", "1.25", "", "0.5"}, {"", "0.5", "1.25", "1.5"}},
        {{"V1.9", "V1.10", "V2.0"}, {"V1.10", "V1.9", "V2.0"}},
        {{"ax", "Bx", "Ax"}, {"Ax", "Bx", "ax"}},
        {{"2024-01-05", "2023-12-31 23:59", "2024/1/4"}, {"2023-12-31 23:59", "2024/1/4", "2024-01-05"}},
    };
    for (const Case& c : cases) {
        DeviceList list;
        fillDeviceColumns(list);
        for (const std::string& text : c.input) addRow(list, text, DEVICE_COLUMN_SOFT_VERSION);
        list.SortByColumn(DEVICE_COLUMN_SOFT_VERSION, true);
        EXPECT_EQ(columnTexts(list, DEVICE_COLUMN_SOFT_VERSION), c.ascending);
        list.SortByColumn(DEVICE_COLUMN_SOFT_VERSION, false);
        std::vector<std::string> descending(c.ascending.rbegin(), c.ascending.rend());
        EXPECT_EQ(columnTexts(list, DEVICE_COLUMN_SOFT_VERSION), descending);
    }
}

TEST(DeviceListSort, ManyRowsWithDuplicatesEndSorted) {
    DeviceList list;
    fillDeviceColumns(list);
    for (int i = 0; i < 500; ++i) addRow(list, std::to_string((i * 7919) % 37));
    list.SortByColumn(DEVICE_COLUMN_IP, true);
    for (int r = 1; r < list.RowCount(); ++r)
        EXPECT_LE(list.CompareCells(list.GetItemText(r - 1, 4), list.GetItemText(r, 4)), 0) << "row " << r;
    EXPECT_EQ(list.RowCount(), 500);
}

TEST(DeviceListSort, EverythingOfARowMovesWithIt) {
    DeviceList list;
    fillDeviceColumns(list);
    list.EnableChecks();
    const char* ips[] = {"3", "1", "2"};
    for (int i = 0; i < 3; ++i) {
        addRow(list, ips[i]);
        list.SetCellText(i, DEVICE_COLUMN_SERIAL, std::string("SN-") + ips[i]);
        list.SetOwnerKey(i, 100 + (ips[i][0] - '0'));
    }
    setRowStatus(list, 0, DEVICE_STATUS_UPGRADE_DONE);  // "3"
    list.SetCheck(0, true);
    list.LockRowCheck(0);
    list.StartCellProgress(0);
    list.SetCellProgressPercent(0, 42);
    list.SetSelected(0, true);
    list.SetFocusedRow(0);
    setRowStatus(list, 1, DEVICE_STATUS_INVALID_MODEL);  // "1"

    RecordingObserver observer;
    list.AddObserver(&observer);
    list.SortByColumn(DEVICE_COLUMN_IP, true);
    EXPECT_EQ(observer.log, std::vector<std::string>{"sorted 4 asc"});
    ASSERT_EQ(columnTexts(list, DEVICE_COLUMN_IP), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(list.GetItemText(2, DEVICE_COLUMN_SERIAL), "SN-3");
    EXPECT_EQ(list.GetOwnerKey(2), 103u);
    EXPECT_EQ(list.FindRowByOwnerKey(103), 2);
    EXPECT_TRUE(list.GetCheck(2));
    EXPECT_TRUE(list.IsRowCheckLocked(2));
    EXPECT_TRUE(list.IsSelected(2));
    EXPECT_EQ(list.FocusedRow(), 2);
    EXPECT_EQ(rowStatusCode(list, 2), DEVICE_STATUS_UPGRADE_DONE);
    EXPECT_EQ(list.GetCellBackColor(2, 7), 0x00FF00);
    ASSERT_NE(list.CellProgress(2, 1), nullptr);
    EXPECT_EQ(list.CellProgress(2, 1)->inUse, 1);
    EXPECT_EQ(list.CellProgress(2, 1)->percent, 42);
    EXPECT_EQ(rowStatusCode(list, 0), DEVICE_STATUS_INVALID_MODEL);
    EXPECT_EQ(list.GetCellTextColor(0, 3), 0x0000FF);
    EXPECT_FALSE(list.GetCheck(0));
    EXPECT_FALSE(list.IsRowCheckLocked(0));
    EXPECT_EQ(list.CellProgress(0, 1)->inUse, 0);
    EXPECT_EQ(list.GetCellBackColor(1, 3), DEVICE_LIST_DEFAULT_COLOR);
    list.RemoveObserver(&observer);
}

TEST(DeviceListSort, HeaderClickDirectionRules) {
    DeviceList list;
    fillDeviceColumns(list);
    addRow(list, "2");
    addRow(list, "1");
    struct Step {
        int click;       // header clicked, or -1 for a SetCellText in between
        int column;      // expected sort column afterwards
        bool ascending;  // expected direction afterwards
    };
    const Step steps[] = {
        {4, 4, true}, {4, 4, false}, {4, 4, true},   {6, 6, true},
        {4, 4, true}, {4, 4, false}, {-1, -1, true}, {4, 4, true},
    };
    for (const Step& s : steps) {
        if (s.click >= 0)
            list.OnHeaderClick(s.click);
        else
            list.SetCellText(0, DEVICE_COLUMN_SERIAL, "x");
        EXPECT_EQ(list.SortColumn(), s.column);
        EXPECT_EQ(list.SortAscending(), s.ascending);
    }
    list.OnHeaderClick(4);  // now descending
    EXPECT_FALSE(list.SortAscending());
    list.InsertRow(0);  // InsertRow resets too
    EXPECT_EQ(list.SortColumn(), -1);
    list.OnHeaderClick(4);
    EXPECT_TRUE(list.SortAscending());
    // A column outside the list: nothing happens.
    list.SortByColumn(11, false);
    EXPECT_EQ(list.SortColumn(), 4);
    EXPECT_TRUE(list.SortAscending());
}

// ---- counting, checks, colours --------------------------------------------------------------------

TEST(DeviceListRows, CountRowsFilters) {
    DeviceList list;
    fillDeviceColumns(list);
    for (int i = 0; i < 5; ++i) addRow(list, std::to_string(i));
    EXPECT_EQ(list.CountRows(RC_ITEM_ALL), 5);
    EXPECT_EQ(list.CountRows(RC_ITEM_CHECKED), 0);
    list.SetCheck(1, true);
    list.SetCheck(3, true);
    list.SetSelected(3, true);
    list.SetSelected(4, true);
    list.SetFocusedRow(4);
    struct Case {
        int filter;
        int expected;
    };
    const Case cases[] = {
        {RC_ITEM_ALL, 5},
        {RC_ITEM_CHECKED, 2},
        {RC_ITEM_UNCHECKED, 3},
        {RC_ITEM_SELECTED, 2},
        {RC_ITEM_UNSELECTED, 3},
        {RC_ITEM_FOCUSED, 1},
        {RC_ITEM_UNFOCUSED, 4},
        {RC_ITEM_CHECKED | RC_ITEM_SELECTED, 1},
        {RC_ITEM_UNCHECKED | RC_ITEM_SELECTED | RC_ITEM_FOCUSED, 1},
        {RC_ITEM_CHECKED | RC_ITEM_UNCHECKED, 0},
        {RC_ITEM_ALL | RC_ITEM_CHECKED, 2},
    };
    for (const Case& c : cases) EXPECT_EQ(list.CountRows(c.filter), c.expected) << "filter " << c.filter;
}

TEST(DeviceListChecks, LockedRowFlipsBackUnlockedRowBecomesOnlySelection) {
    DeviceList list;
    fillDeviceColumns(list);
    list.EnableChecks();
    for (int i = 0; i < 3; ++i) addRow(list, std::to_string(i));
    list.SetSelected(0, true);
    list.SetSelected(2, true);
    list.SetFocusedRow(2);
    EXPECT_EQ(list.LockRowCheck(1), 1);
    EXPECT_EQ(list.LockRowCheck(3), 0);

    RecordingObserver observer;
    list.AddObserver(&observer);
    EXPECT_EQ(list.ClickCheck(1), 0);
    EXPECT_FALSE(list.GetCheck(1));
    EXPECT_TRUE(list.IsSelected(0));
    EXPECT_TRUE(list.IsSelected(2));
    EXPECT_EQ(list.FocusedRow(), 2);
    EXPECT_TRUE(observer.log.empty());

    EXPECT_EQ(list.ClickCheck(0, CheckClick::Double), 1);
    EXPECT_TRUE(list.GetCheck(0));
    EXPECT_EQ(list.CountRows(RC_ITEM_SELECTED), 1);
    EXPECT_TRUE(list.IsSelected(0));
    EXPECT_EQ(list.FocusedRow(), 0);
    EXPECT_EQ(observer.log, (std::vector<std::string>{"cells 0 0-0", "selection", "check 0 double"}));

    EXPECT_EQ(list.ClickCheck(0, CheckClick::Single), 1);
    EXPECT_FALSE(list.GetCheck(0));
    EXPECT_EQ(observer.log.back(), "check 0 single");
    EXPECT_EQ(list.ClickCheck(7), 0);
    list.RemoveObserver(&observer);
}

TEST(DeviceListChecks, RowsOutsideCannotBeLockedOrShowProgressInsertedRowsCan) {
    DeviceList list;
    fillDeviceColumns(list);
    list.SetOwnerKey(addRow(list, "10.1.1.2"), 78);
    const int row = list.InsertRow(0);  // in front of the existing row
    ASSERT_EQ(row, 0);
    list.SetOwnerKey(row, 77);
    list.SetCellText(row, DEVICE_COLUMN_IP, "10.1.1.1");
    for (int outside : {-1, list.RowCount()}) {
        EXPECT_EQ(list.LockRowCheck(outside), 0);
        EXPECT_EQ(list.UnlockRowCheck(outside), 0);
        EXPECT_EQ(list.StartCellProgress(outside), 0);
        EXPECT_EQ(list.SetOwnerKey(outside, 5), 0);
        EXPECT_EQ(list.GetOwnerKey(outside), 0u);
    }
    EXPECT_EQ(list.ClickCheck(row), 1);
    EXPECT_EQ(list.GetOwnerKey(row), 77u);
    EXPECT_EQ(list.FindRowByOwnerKey(78), 1);
    EXPECT_EQ(list.LockRowCheck(row), 1);
    EXPECT_EQ(list.StartCellProgress(row), 1);
    EXPECT_EQ(list.GetCellBackColor(row, 0), DEVICE_LIST_DEFAULT_COLOR);
}

TEST(DeviceListColours, OutOfRangeRowColoursEveryRow) {
    DeviceList list;
    fillDeviceColumns(list);
    for (int i = 0; i < 3; ++i) addRow(list, std::to_string(i));
    RecordingObserver observer;
    list.AddObserver(&observer);
    list.SetRowTextColor(-1, 0x123456);
    list.SetRowBackColor(3, 0x654321);
    list.SetRowTextColor(1, DEVICE_LIST_DEFAULT_COLOR);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < DEVICE_COLUMN_COUNT; ++c) {
            EXPECT_EQ(list.GetCellTextColor(r, c), r == 1 ? DEVICE_LIST_DEFAULT_COLOR : 0x123456);
            EXPECT_EQ(list.GetCellBackColor(r, c), 0x654321);
        }
    }
    EXPECT_EQ(observer.log,
              (std::vector<std::string>{"colors 0-2 text", "colors 0-2 back", "colors 1-1 text"}));
    list.RemoveObserver(&observer);
}

TEST(DeviceListProgress, StartStopAndClamp) {
    DeviceList list;
    list.DefineColumns("only");
    list.InsertRow(0);
    EXPECT_EQ(list.StartCellProgress(0), 0);  // needs two columns
    fillDeviceColumns(list);
    list.InsertRow(0);
    EXPECT_EQ(list.StartCellProgress(0), 1);
    const PROGRESS_DATA* p = list.CellProgress(0, 1);
    EXPECT_EQ(p->inUse, 1);
    EXPECT_EQ(p->showText, 1);
    EXPECT_TRUE(p->textFormat.empty());
    list.SetCellProgressPercent(0, 250);
    EXPECT_EQ(list.CellProgress(0, 1)->percent, 100);
    list.SetCellProgressPercent(0, -3);
    EXPECT_EQ(list.CellProgress(0, 1)->percent, 0);
    list.SetCellProgressPercent(0, 60);
    EXPECT_EQ(list.StopCellProgress(0), 1);
    EXPECT_EQ(list.CellProgress(0, 1)->inUse, 0);
    EXPECT_EQ(list.CellProgress(0, 1)->percent, 0);
}

TEST(DeviceListRows, DeleteAndFindByKey) {
    DeviceList list;
    fillDeviceColumns(list);
    for (int i = 0; i < 4; ++i) {
        addRow(list, std::to_string(i));
        list.SetOwnerKey(i, 0x0100007F + i);
    }
    EXPECT_EQ(list.FindRowByOwnerKey(0x0100007F + 2), 2);
    EXPECT_EQ(list.DeleteRow(1), 1);
    EXPECT_EQ(list.DeleteRow(9), 0);
    EXPECT_EQ(list.FindRowByOwnerKey(0x0100007F + 2), 1);
    EXPECT_EQ(list.FindRowByOwnerKey(0x0100007F + 1), -1);
    EXPECT_EQ(list.DeleteAllRows(), 3);
    EXPECT_EQ(list.DeleteAllRows(), 0);
    EXPECT_TRUE(list.RedrawEnabled());
    EXPECT_EQ(list.InsertRow(-1), -1);
    EXPECT_EQ(list.InsertRow(99), 0);  // clamped to the end
}

// ---- status table ----------------------------------------------------------------------------------

TEST(DeviceStatus, TableAndRowStatus) {
    struct Case {
        int code;
        const char* text;
        int32_t textColor;
        int32_t backColor;
    };
    const Case table[] = {
        {0, "等待连接", 0x000000, 0xFFFFFF},     {1, "正在连接", 0xFF0000, 0xFFFFFF},
        {2, "正在重试连接", 0xFFFF00, 0xFFFFFF}, {3, "已连接", 0x000000, 0xE7E5C9},
        {4, "等待升级", 0x000000, 0xFFFFFF},     {5, "正在升级", 0x000000, 0xFFFFFF},
        {6, "升级完成", 0x000000, 0x00FF00},     {7, "连接失败", 0x7F7F7F, 0xFFFFFF},
        {8, "升级失败", 0xFFFFFF, 0x0000FF},     {9, "非法型号", 0x0000FF, 0xF2F2F2},
        {10, "平台不匹配", 0x7F7F7F, 0xF2F2F2},  {11, "正在验证", 0x000000, 0x99FFFF},
        {12, "未验证", 0x000000, 0x80C0FF},
    };
    DeviceList list;
    fillDeviceColumns(list);
    addRow(list, "a");
    addRow(list, "b");
    for (const Case& c : table) {
        const DeviceStatusEntry* e = deviceStatusEntry(c.code);
        ASSERT_NE(e, nullptr);
        EXPECT_STREQ(e->text, c.text);
        EXPECT_EQ(e->textColor, c.textColor);
        EXPECT_EQ(e->backColor, c.backColor);
        setRowStatus(list, 1, c.code);
        EXPECT_EQ(list.GetItemText(1, 1), c.text);
        EXPECT_EQ(rowStatusCode(list, 1), c.code);
        EXPECT_EQ(list.GetCellTextColor(1, 10), c.textColor);
        EXPECT_EQ(list.GetCellBackColor(1, 0), c.backColor);
    }
    EXPECT_EQ(deviceStatusEntry(DEVICE_STATUS_COUNT), nullptr);
    EXPECT_EQ(rowStatusCode(list, 0), -1);
    // A row outside the list must not recolour every row through the colour operations.
    setRowStatus(list, 5, DEVICE_STATUS_UPGRADE_FAILED);
    EXPECT_EQ(list.GetCellBackColor(0, 0), DEVICE_LIST_DEFAULT_COLOR);
}

// ---- robustness ---------------------------------------------------------------------------------

TEST(DeviceListSort, InconsistentDateParserCannotBreakTheSort) {
    // A parser whose answers change between calls makes the comparison inconsistent; the sort must
    // still end with every row kept exactly once.
    DeviceList list;
    fillDeviceColumns(list);
    unsigned state = 12345;
    list.SetDateParser([&state](std::string_view) -> std::optional<int64_t> {
        state = state * 1103515245u + 12345u;
        return static_cast<int64_t>(state >> 8);
    });
    for (int i = 0; i < 300; ++i) addRow(list, "ip-" + std::to_string(i));
    list.SortByColumn(DEVICE_COLUMN_IP, true);
    list.SortByColumn(DEVICE_COLUMN_IP, false);
    std::vector<std::string> texts = columnTexts(list, DEVICE_COLUMN_IP);
    std::sort(texts.begin(), texts.end());
    std::vector<std::string> expected;
    for (int i = 0; i < 300; ++i) expected.push_back("ip-" + std::to_string(i));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(texts, expected);
}

TEST(DeviceListCompare, DefaultDateParserNotations) {
    struct Case {
        const char* text;
        bool isDate;
    };
    const Case cases[] = {
        {"2024-01-05", true},
        {"2024/1/5", true},
        {"2024.01.05 08:30", true},
        {"2024-01-05T08:30:15", true},
        {"23:59:59", true},
        {"2024-13-01", false},
        {"2023-02-29", false},
        {"2024-02-29", true},
        {"2024-01-05 25:00", false},
        {"2024-01/05", false},
        {"192.168.1.10", false},
        {"V1.2.3", false},
        {"12:30", false},
        {"2024-01-05 ", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(parseCellDate(c.text).has_value(), c.isDate) << c.text;
    EXPECT_LT(*parseCellDate("2023-12-31 23:59:59"), *parseCellDate("2024-01-01"));
    EXPECT_EQ(*parseCellDate("1970-01-02 00:00:01"), 86401);  // seconds since 1970-01-01
}

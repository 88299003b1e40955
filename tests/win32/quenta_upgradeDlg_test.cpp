// test-labels: windows
// The Windows window driven in process through its real controls: buttons pressed with BM_CLICK,
// the IP address control set with IPM_SETADDRESS and its EN_CHANGE, the list read with
// LVM_GETITEMTEXTW, message boxes answered and recorded through the window's box seam; the about box
// and the list's context menu (own modal loops) answered from a thread timer, the status tooltip read
// with TTM_GETTEXTW. Needs an X display under wine (skipped unless the harness below sets
// QUENTA_TEST_WINE_GUI=1). The cases against a site need the simulated site in a private namespace:
// scripts/windows-gui-test.sh starts it (with one device that refuses every put) and sets
// QUENTA_TEST_PACKAGE (a Windows path of a package) and QUENTA_TEST_ADDRESS_BOX; QUENTA_TEST_SCREENSHOTS
// names a folder for two screenshots (.bmp) of the window.
#include "win32/quenta_upgradeDlg.h"

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/failure_reason.h"
#include "engine/list_glance.h"
#include "win32/CReportCtrl.h"
#include "win32/resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/box_script.h"
#include "tests/support/refusal_rules.h"
#include "win32/CProgressDlg.h"
#include "win32/CReportCtrl.h"
#include "win32/dialog_fit.h"
#include "win32/quenta_upgrade_app.h"
#include "win32/win32_text.h"

namespace {

using Clock = std::chrono::steady_clock;

// UTF-8 (the narrow environment is in the ANSI code page, which loses the package's Chinese name).
std::string env(const char* name) {
    const wchar_t* value = _wgetenv(win32_widen(name).c_str());
    return value != nullptr ? win32_narrow(value) : "";
}

// Set by scripts/windows-gui-test.sh, which gives wine an X display and a private namespace.
bool haveDisplay() {
    return !env("DISPLAY").empty() && env("QUENTA_TEST_WINE_GUI") == "1";
}

// Serves the thread's messages until `done` or the time is up.
bool pumpUntil(const std::function<bool()>& done, int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() > end) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    }
    return true;
}

void pumpFor(int ms) {
    pumpUntil([] { return false; }, ms);
}

// The boxes of the window withWindow opened: answered, recorded, file dialogs given.
quenta_test::BoxScript* g_script = nullptr;
// Called with every box of withWindow's window before it is answered.
std::function<void(const ShownBox&)> g_boxWatcher;
quenta_test::BoxScript& script() {
    return *g_script;
}

// Opens the window, runs `script` inside its modal loop, then presses "退出" if the window is still up.
void withWindow(const std::function<void(Cquenta_upgradeDlg&)>& script) {
    quenta_test::BoxScript boxes([](const ShownBox& box) -> std::optional<int> {
        if (g_boxWatcher) g_boxWatcher(box);
        if (box.buttons != BoxButtons::yesNo) return IDOK;
        // "取消" and closing during a run are meant; the version prompt: not yet.
        return box.text == flowtext::kConfirmCancel || box.text == flowtext::kConfirmClose ? IDYES : IDNO;
    });
    g_script = &boxes;
    Cquenta_upgradeDlg::setOpenedHook([&script](Cquenta_upgradeDlg& dialog) {
        script(dialog);
        if (!dialog.destroyed()) SendMessageW(dialog.Item(IDC_EXIT), BM_CLICK, 0, 0);
        pumpUntil([&dialog] { return dialog.destroyed(); }, 30000);
    });
    {
        Cquenta_upgradeDlg dialog;
        dialog.Run();
    }
    Cquenta_upgradeDlg::setOpenedHook({});
    g_script = nullptr;
    g_boxWatcher = nullptr;
}

std::wstring windowText(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

std::string className(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return win32_narrow(name);
}

std::string cellText(HWND list, int row, int column) {
    wchar_t text[256] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return win32_narrow(text);
}

// The operator's click on an item's check box (the view is virtual: it keeps no check state of its
// own, so a state set with LVM_SETITEMSTATE would not be a click). false when no box was found.
bool clickCheckBox(HWND list, int item) {
    ListView_EnsureVisible(list, item, FALSE);
    RECT row{};
    row.left = LVIR_BOUNDS;
    if (!SendMessageW(list, LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&row))) return false;
    for (int x = row.left; x < row.left + 64; ++x) {
        LVHITTESTINFO hit{};
        hit.pt = POINT{x, (row.top + row.bottom) / 2};
        if (ListView_SubItemHitTest(list, &hit) != item || (hit.flags & LVHT_ONITEMSTATEICON) == 0) continue;
        const LPARAM at = MAKELPARAM(hit.pt.x, hit.pt.y);
        SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(list, WM_LBUTTONUP, 0, at);
        return true;
    }
    return false;
}

// Ticks or clears an item's box as the operator would: a click when it differs.
bool setCheckByClick(HWND list, int item, bool on) {
    return (ListView_GetCheckState(list, item) != 0) == on || clickCheckBox(list, item);
}

bool checked(HWND button) {
    return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void setIpControl(Cquenta_upgradeDlg& dialog, int id, BYTE a, BYTE b, BYTE c, BYTE d) {
    HWND control = dialog.Item(id);
    SendMessageW(control, IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
    // What the control sends when the operator types into a field.
    SendMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(id, EN_CHANGE), reinterpret_cast<LPARAM>(control));
}

// Dotted text into an IP address control ("" clears it), as the operator would type it.
void typeIp(Cquenta_upgradeDlg& dialog, int id, const std::string& dotted) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (std::sscanf(dotted.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) == 4) {
        setIpControl(dialog, id, BYTE(a), BYTE(b), BYTE(c), BYTE(d));
        return;
    }
    HWND control = dialog.Item(id);
    SendMessageW(control, IPM_CLEARADDRESS, 0, 0);
    SendMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(id, EN_CHANGE), reinterpret_cast<LPARAM>(control));
}

void click(Cquenta_upgradeDlg& dialog, int id) {
    SendMessageW(dialog.Item(id), BM_CLICK, 0, 0);
}

bool sawBox(const Cquenta_upgradeDlg& /*dialog*/, const std::string& prefix, const std::string& title) {
    for (const auto& box : script().shownBoxes())
        if (box.text.rfind(prefix, 0) == 0 && box.title == title) return true;
    return false;
}

// The window's pixels from the screen, as a 24-bit .bmp.
void screenshot(HWND window, const std::string& name) {
    const std::string folder = env("QUENTA_TEST_SCREENSHOTS");
    if (folder.empty()) return;
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    pumpFor(300);
    RECT area{};
    GetWindowRect(window, &area);
    const int width = area.right - area.left, height = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    const int stride = (width * 3 + 3) & ~3;
    std::vector<char> pixels(static_cast<size_t>(stride) * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = _wfopen(win32_widen(folder + "\\" + name + ".bmp").c_str(), L"wb");
    ASSERT_NE(out, nullptr);
    fwrite(&file, sizeof file, 1, out);
    fwrite(&info, sizeof info, 1, out);
    fwrite(pixels.data(), 1, pixels.size(), out);
    fclose(out);
}

// Loads the site's package through "浏览" (the file dialog answered by the seam).
void loadTestPackage(Cquenta_upgradeDlg& dialog) {
    script().setNextOpenFile(env("QUENTA_TEST_PACKAGE"));
    click(dialog, IDC_BROWSE);
}

// --- boxes of their own modal loops (the about box, the list's menu), answered from a timer ---

// A visible window of this thread owned by `owner`, of class `klass` (nullptr: any class).
HWND ownedWindow(HWND owner, const wchar_t* klass) {
    struct Search {
        HWND owner;
        const wchar_t* klass;
        HWND found;
    } search{owner, klass, nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            if (!IsWindowVisible(window)) return TRUE;
            if (s->owner != nullptr && GetWindow(window, GW_OWNER) != s->owner) return TRUE;
            if (s->klass != nullptr && std::wstring(name) != s->klass) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// What the about box showed while it was open.
struct AboutSeen {
    HWND owner = nullptr;
    std::wstring title;
    RECT rect{};
    bool ownerDisabled = false;
    int depth = 0;
    Cquenta_upgradeDlg* dialog = nullptr;
};
AboutSeen aboutSeen;

void CALLBACK closeAbout(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND about = ownedWindow(aboutSeen.owner, L"#32770");
    if (about == nullptr) return;
    KillTimer(nullptr, timer);
    aboutSeen.title = windowText(about);
    GetWindowRect(about, &aboutSeen.rect);
    aboutSeen.ownerDisabled = !IsWindowEnabled(aboutSeen.owner);
    aboutSeen.depth = aboutSeen.dialog->modalDepth();
    PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

// The list's menu: which items were enabled, and the choice made (a grayed choice closes it).
struct MenuPlan {
    UINT choose = 0;
    std::map<UINT, bool> enabled;
    bool shown = false;
};
MenuPlan menuPlan;

void CALLBACK driveMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND popup = ownedWindow(nullptr, L"#32768");
    if (popup == nullptr) return;
    KillTimer(nullptr, timer);
    menuPlan.shown = true;
    auto menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
    int downs = 0, target = -1;
    for (int at = 0; at < GetMenuItemCount(menu); ++at) {
        const UINT id = GetMenuItemID(menu, at);
        const UINT state = GetMenuState(menu, at, MF_BYPOSITION);
        if (state & MF_SEPARATOR) continue;
        menuPlan.enabled[id] = (state & (MF_GRAYED | MF_DISABLED)) == 0;
        if (target < 0) ++downs;
        if (id == menuPlan.choose) target = at;
    }
    if (target < 0 || !menuPlan.enabled[menuPlan.choose]) {
        PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
        return;
    }
    for (int i = 0; i < downs; ++i) PostMessageW(popup, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(popup, WM_CHAR, L'\r', 0);
}

constexpr UINT kRetryItem = 40001, kRecoverItem = 40002, kExportItem = 40003, kRetrySelectedItem = 40004;

// Opens the list's context menu (as a right click on the list does) and picks `item`.
void chooseFromListMenu(Cquenta_upgradeDlg& dialog, UINT item) {
    menuPlan = MenuPlan{item, {}, false};
    HWND list = dialog.Item(1001);
    RECT area{};
    GetWindowRect(list, &area);
    SetTimer(nullptr, 0, 50, &driveMenu);
    SendMessageW(dialog.hwnd(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list),
                 MAKELPARAM(area.left + 20, area.top + 40));
}

// The text the status cell's tooltip would show with the pointer over (row, column).
std::string tipAt(HWND list, int row, int column) {
    RECT cell{};
    cell.top = column;
    cell.left = LVIR_BOUNDS;
    SendMessageW(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell));
    SendMessageW(list, WM_MOUSEMOVE, 0,
                 MAKELPARAM((cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2));
    struct Found {
        HWND list;
        std::wstring text;
    } found{list, L""};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            auto* f = reinterpret_cast<Found*>(data);
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            if (std::wstring(name) != TOOLTIPS_CLASSW) return TRUE;
            // A popup's owner is the top-level window, whatever parent it was created with.
            const HWND owner = GetWindow(window, GW_OWNER);
            if (owner != f->list && owner != GetAncestor(f->list, GA_ROOT)) return TRUE;
            wchar_t text[1024] = {};
            TTTOOLINFOW tool{};
            tool.cbSize = sizeof tool;
            tool.hwnd = f->list;
            tool.uId = reinterpret_cast<UINT_PTR>(f->list);
            if (!SendMessageW(window, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool))) return TRUE;
            tool.lpszText = text;
            SendMessageW(window, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&tool));
            if (text[0] != 0) f->text = text;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return win32_narrow(found.text);
}

std::string readFile(const std::string& utf8Path) {
    std::string content;
    FILE* in = _wfopen(win32_widen(utf8Path).c_str(), L"rb");
    if (in == nullptr) return content;
    char block[4096];
    for (size_t got; (got = fread(block, 1, sizeof block, in)) > 0;) content.append(block, got);
    fclose(in);
    return content;
}

std::string tempPath(const char* name) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return win32_narrow(folder) + name;
}

void setAddressBoxFromEnv(Cquenta_upgradeDlg& dialog) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(env("QUENTA_TEST_ADDRESS_BOX").c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
    setIpControl(dialog, IDC_ADDRESS_BOX_IP, BYTE(a), BYTE(b), BYTE(c), BYTE(d));
}

RECT monitorWorkArea(HWND window) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
    return info.rcWork;
}

// A box's rectangle centred over the window (to a pixel), unless the work area pushed it.
void expectCentredOver(const RECT& box, HWND window) {
    RECT over{};
    GetWindowRect(window, &over);
    const RECT area = monitorWorkArea(window);
    EXPECT_GE(box.left, area.left);
    EXPECT_GE(box.top, area.top);
    EXPECT_LE(box.right, area.right);
    EXPECT_LE(box.bottom, area.bottom);
    if (box.left > area.left && box.right < area.right) {
        EXPECT_NEAR((box.left + box.right) / 2.0, (over.left + over.right) / 2.0, 1.0);
    }
    if (box.top > area.top && box.bottom < area.bottom) {
        EXPECT_NEAR((box.top + box.bottom) / 2.0, (over.top + over.bottom) / 2.0, 1.0);
    }
}

#define REQUIRE_DISPLAY() \
    if (!haveDisplay()) GTEST_SKIP() << "no X display for wine"
#define REQUIRE_SITE()                                                                \
    REQUIRE_DISPLAY();                                                                \
    if (env("QUENTA_TEST_PACKAGE").empty() || env("QUENTA_TEST_ADDRESS_BOX").empty()) \
    GTEST_SKIP() << "no simulated site (scripts/windows-gui-test.sh starts one)"

TEST(Win32StartUp, SecondInstanceIsRefusedWithTheBox) {
    HANDLE first = CreateEventW(nullptr, FALSE, FALSE, L"QUENTA_UPGRADE");
    ASSERT_NE(first, nullptr);
    std::vector<ShownBox> boxes;
    auto script =
        std::make_unique<quenta_test::BoxScript>([&boxes](const ShownBox& box) -> std::optional<int> {
            boxes.push_back(box);
            return IDOK;
        });
    Cquenta_upgradeApp app;
    EXPECT_FALSE(app.InitInstance());
    script.reset();
    CloseHandle(first);
    EXPECT_EQ(app.exitCode(), 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "程序已经在运行！");
    EXPECT_EQ(boxes[0].title, "错误提示");
    EXPECT_EQ(boxes[0].icon, BoxIcon::stop);
}

TEST(Win32Window, LayoutControlsAndInitialStates) {
    REQUIRE_DISPLAY();
    withWindow([](Cquenta_upgradeDlg& dialog) {
        EXPECT_EQ(win32_narrow(windowText(dialog.hwnd())), "产品升级工具");
        RECT units{0, 0, 900, 472}, client{};
        MapDialogRect(dialog.hwnd(), &units);
        GetClientRect(dialog.hwnd(), &client);
        EXPECT_EQ(client.right, units.right);
        EXPECT_EQ(client.bottom, units.bottom);
        EXPECT_EQ(className(dialog.Item(1001)), "SysListView32");
        EXPECT_EQ(className(dialog.Item(IDC_ADDRESS_BOX_IP)), "SysIPAddress32");
        EXPECT_EQ(className(dialog.Item(IDC_SINGLE_IP)), "SysIPAddress32");
        EXPECT_EQ(win32_narrow(windowText(dialog.Item(IDC_QUERY))), " 获取设备列表");
        EXPECT_EQ(win32_narrow(windowText(dialog.Item(IDC_UPGRADE))), "升级");
        EXPECT_EQ(win32_narrow(windowText(dialog.Item(IDC_VERIFY))), "升级后验证版本");
        EXPECT_EQ(win32_narrow(windowText(dialog.Item(IDC_STAGES))), "分批升级（每个型号先升级一台）");
        // After start-up only "浏览", "退出" and "  清空列表" of the table are enabled.
        EXPECT_TRUE(IsWindowEnabled(dialog.Item(IDC_BROWSE)));
        EXPECT_TRUE(IsWindowEnabled(dialog.Item(IDC_EXIT)));
        for (int id : {IDC_UPGRADE, IDC_QUERY, IDC_SINGLE_IP, IDC_ADD, IDC_SELECT_ALL, IDC_VERSION_DIFF,
                       IDC_SHOW_FAILED, IDC_RADIO_BATCH, IDC_RADIO_SINGLE})
            EXPECT_FALSE(IsWindowEnabled(dialog.Item(id))) << id;
        EXPECT_FALSE(checked(dialog.Item(IDC_RADIO_BATCH)));
        EXPECT_FALSE(checked(dialog.Item(IDC_RADIO_SINGLE)));
        // The list: eleven centred columns, check boxes, the headings of the table.
        HWND list = dialog.Item(1001);
        HWND header = ListView_GetHeader(list);
        EXPECT_EQ(Header_GetItemCount(header), 11);
        wchar_t heading[64] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = heading;
        column.cchTextMax = 64;
        SendMessageW(list, LVM_GETCOLUMNW, 4, reinterpret_cast<LPARAM>(&column));
        EXPECT_EQ(win32_narrow(heading), "IP地址");
        EXPECT_EQ(column.cx, MulDiv(150, dialog.dpi(), 96));  // 96-DPI pixels at the window's DPI
        EXPECT_NE(ListView_GetExtendedListViewStyle(list) & LVS_EX_CHECKBOXES, 0u);
        // Disabled buttons do nothing when pressed.
        click(dialog, IDC_QUERY);
        EXPECT_TRUE(script().shownBoxes().empty());
    });
}

// The status line's counts filter the list on a click, the search field finds an IP or serial
// number, neither changes a check; the header shows the chosen sort's arrow.
TEST(Win32Window, StatusLineFilterSearchAndSortArrow) {
    REQUIRE_DISPLAY();
    withWindow([](Cquenta_upgradeDlg& dialog) {
        DeviceList& list = dialog.flow().list();
        for (int i = 0; i < 40; ++i) {
            const int row = list.InsertRow(list.RowCount());
            list.SetCellText(row, DEVICE_COLUMN_IP, "127.0.3." + std::to_string(i + 1));
            list.SetCellText(row, DEVICE_COLUMN_SERIAL, "QNSER" + std::to_string(1000 + i));
            list.SetOwnerKey(row, 127u | 3u << 16 | static_cast<uint32_t>(i + 1) << 24);
            setRowStatus(list, row, i % 10 == 3 ? DEVICE_STATUS_UPGRADE_FAILED : DEVICE_STATUS_CONNECTED);
            list.SetCheck(row, i % 2 == 0);
        }
        const int ticked = list.CountRows(RC_ITEM_CHECKED);
        dialog.refreshGlance();
        ASSERT_NE(dialog.countWindow(-1), nullptr);
        EXPECT_EQ(win32_narrow(windowText(dialog.countWindow(-1))), "全部 40");
        EXPECT_EQ(win32_narrow(windowText(dialog.countWindow(DEVICE_STATUS_CONNECTED))), "已连接 36");
        HWND failed = dialog.countWindow(DEVICE_STATUS_UPGRADE_FAILED);
        ASSERT_NE(failed, nullptr);
        EXPECT_EQ(win32_narrow(windowText(failed)), "升级失败 4");
        // In the bottom row, between "  清空列表" and "升级", clear of both.
        RECT clear{}, upgrade{}, count{}, search{};
        GetWindowRect(dialog.Item(IDC_CLEAR), &clear);
        GetWindowRect(dialog.Item(IDC_UPGRADE), &upgrade);
        GetWindowRect(failed, &count);
        GetWindowRect(dialog.Item(IDC_GLANCE_SEARCH), &search);
        EXPECT_GT(count.left, clear.right);
        EXPECT_LT(search.right, upgrade.left);
        RECT listBox{};
        GetWindowRect(dialog.Item(1001), &listBox);
        EXPECT_GE(count.top, listBox.bottom);

        HWND view = dialog.Item(1001);
        SendMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(failed), STN_CLICKED),
                     reinterpret_cast<LPARAM>(failed));
        EXPECT_EQ(ListView_GetItemCount(view), 4);
        setRowStatus(list, 0, DEVICE_STATUS_UPGRADE_FAILED);  // a row failing later joins the view
        EXPECT_EQ(ListView_GetItemCount(view), 5);
        EXPECT_EQ(cellText(view, 0, DEVICE_COLUMN_IP), "127.0.3.1");
        SetDlgItemTextW(dialog.hwnd(), IDC_GLANCE_SEARCH, L"qnser1013");
        EXPECT_EQ(ListView_GetItemCount(view), 1);
        EXPECT_EQ(cellText(view, 0, DEVICE_COLUMN_IP), "127.0.3.14");
        HWND all = dialog.countWindow(-1);
        SendMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(all), STN_CLICKED),
                     reinterpret_cast<LPARAM>(all));
        EXPECT_EQ(ListView_GetItemCount(view), 40);
        SetDlgItemTextW(dialog.hwnd(), IDC_GLANCE_SEARCH, L"127.0.3.2");  // .2 and .20 .. .29
        EXPECT_EQ(ListView_GetItemCount(view), 11);
        EXPECT_EQ(list.CountRows(RC_ITEM_CHECKED), ticked);

        // Two clicks on 状态: descending, with its arrow; the items follow the sorted rows.
        dialog.report().OnColumnClick(DEVICE_COLUMN_STATUS);
        dialog.report().OnColumnClick(DEVICE_COLUMN_STATUS);
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        ASSERT_TRUE(Header_GetItem(ListView_GetHeader(view), DEVICE_COLUMN_STATUS, &item));
        EXPECT_NE(item.fmt & HDF_SORTDOWN, 0);
        EXPECT_EQ(item.fmt & HDF_SORTUP, 0);
        EXPECT_EQ(ListView_GetItemCount(view), 11);
        EXPECT_EQ(cellText(view, 0, DEVICE_COLUMN_IP), "127.0.3.2");  // 已连接 first, ties by IP
        for (int i = 0; i < ListView_GetItemCount(view); ++i)
            EXPECT_EQ(cellText(view, i, DEVICE_COLUMN_IP),
                      list.GetItemText(dialog.report().RowOfItem(i), DEVICE_COLUMN_IP));
        EXPECT_EQ(list.CountRows(RC_ITEM_CHECKED), ticked);
    });
}

// The picture of the status line during a run on a 700-device site (status-line.bmp): only when
// scripts/windows-gui-test.sh --screenshots runs it against its 700-device site.
TEST(Win32Window, StatusLineOn700DeviceSite) {
    REQUIRE_SITE();
    if (env("QUENTA_TEST_SITE_700") != "1") GTEST_SKIP() << "not the 700-device site";
    withWindow([](Cquenta_upgradeDlg& dialog) {
        loadTestPackage(dialog);
        setAddressBoxFromEnv(dialog);
        click(dialog, IDC_QUERY);
        ASSERT_GT(dialog.flow().list().RowCount(), 600);
        click(dialog, IDC_UPGRADE);
        // The predicate after every message: under load the queue is never empty for long.
        const auto end = Clock::now() + std::chrono::minutes(10);
        while (dialog.flow().glance().runLine().finished < 120 && Clock::now() < end) {
            MSG message;
            if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            } else {
                Sleep(5);
            }
        }
        ASSERT_GE(dialog.flow().glance().runLine().finished, 120);
        dialog.refreshGlance();
        screenshot(dialog.hwnd(), "status-line");
        HWND failed = dialog.countWindow(DEVICE_STATUS_UPGRADE_FAILED);
        if (failed != nullptr) {
            SendMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(failed), STN_CLICKED),
                         reinterpret_cast<LPARAM>(failed));
            screenshot(dialog.hwnd(), "status-filter");
            dialog.showStatus(-1);
        }
        click(dialog, IDC_UPGRADE);  // 取消
        EXPECT_TRUE(pumpUntil([&] { return !dialog.flow().runActive(); }, 600000));
    });
}

TEST(Win32Window, ModelBoxesAndRefusalsBeforeAQuery) {
    REQUIRE_SITE();
    withWindow([](Cquenta_upgradeDlg& dialog) {
        loadTestPackage(dialog);
        EXPECT_EQ(win32_narrow(windowText(dialog.Item(IDC_PATH_BOX))), env("QUENTA_TEST_PACKAGE"));
        EXPECT_TRUE(IsWindowEnabled(dialog.Item(IDC_QUERY)));
        EXPECT_TRUE(checked(dialog.Item(IDC_RADIO_BATCH)));
        // One box per model, inside group box 1035, none overlapping, all ticked.
        const std::vector<HWND> boxes = dialog.modelBoxWindows();
        ASSERT_EQ(boxes.size(), dialog.flow().state().modelBoxes.size());
        ASSERT_FALSE(boxes.empty());
        RECT group{};
        GetWindowRect(dialog.Item(IDC_MODEL_GROUP), &group);
        std::vector<RECT> places;
        for (HWND box : boxes) {
            RECT place{};
            GetWindowRect(box, &place);
            EXPECT_TRUE(place.left >= group.left && place.right <= group.right && place.top >= group.top &&
                        place.bottom <= group.bottom);
            for (const RECT& other : places) {
                RECT overlap{};
                EXPECT_FALSE(IntersectRect(&overlap, &place, &other));
            }
            places.push_back(place);
            EXPECT_TRUE(checked(box));
        }
        // No address box yet.
        click(dialog, IDC_QUERY);
        EXPECT_TRUE(sawBox(dialog, "请先输入地址盒IP", "错误提示"));
        // " 全选" unticks every model box; a query then needs a model.
        click(dialog, IDC_MODELS_ALL);
        for (HWND box : dialog.modelBoxWindows()) EXPECT_FALSE(checked(box));
        setIpControl(dialog, IDC_ADDRESS_BOX_IP, 192, 0, 2, 2);
        click(dialog, IDC_QUERY);
        EXPECT_TRUE(sawBox(dialog, "至少一个型号必须选择！", "错误提示"));
        // One box clicked back on.
        SendMessageW(boxes.front(), BM_CLICK, 0, 0);
        EXPECT_TRUE(checked(dialog.modelBoxWindows().front()));
        // "升级" before any list.
        EXPECT_FALSE(IsWindowEnabled(dialog.Item(IDC_UPGRADE)));
    });
}

TEST(Win32Window, QueryTickAndUpgradeToTheEnd) {
    REQUIRE_SITE();
    withWindow([](Cquenta_upgradeDlg& dialog) {
        loadTestPackage(dialog);
        unsigned a = 0, b = 0, c = 0, d = 0;
        ASSERT_EQ(std::sscanf(env("QUENTA_TEST_ADDRESS_BOX").c_str(), "%u.%u.%u.%u", &a, &b, &c, &d), 4);
        setIpControl(dialog, IDC_ADDRESS_BOX_IP, BYTE(a), BYTE(b), BYTE(c), BYTE(d));
        EXPECT_EQ(dialog.flow().state().addressBoxIp, env("QUENTA_TEST_ADDRESS_BOX"));
        click(dialog, IDC_QUERY);  // returns when the progress box closed
        HWND list = dialog.Item(1001);
        const int rows = ListView_GetItemCount(list);
        ASSERT_GT(rows, 0);
        ASSERT_EQ(rows, dialog.flow().list().RowCount());
        for (int row = 0; row < rows; ++row) {
            EXPECT_EQ(cellText(list, row, 4), dialog.flow().list().GetItemText(row, 4));
            EXPECT_EQ(cellText(list, row, 4).rfind("192.0.2.", 0), 0u) << cellText(list, row, 4);
            EXPECT_EQ(cellText(list, row, 1), "已连接");
        }
        screenshot(dialog.hwnd(), "query");

        // The space bar never changes a check box.
        const bool before = ListView_GetCheckState(list, 0) != 0;
        SendMessageW(list, WM_KEYDOWN, VK_SPACE, 0);
        SendMessageW(list, WM_CHAR, L' ', 0);
        EXPECT_EQ(ListView_GetCheckState(list, 0) != 0, before);
        // A click on a check box goes to the list: a locked row keeps its box, an unlocked one follows
        // and becomes the only selected row; rows written by code did not count as clicks (nothing
        // was selected by the query).
        DeviceList& rowsOf = dialog.flow().list();
        EXPECT_EQ(rowsOf.CountRows(RC_ITEM_SELECTED), 0);
        int locked = -1, free = -1;
        for (int row = 0; row < rows; ++row) {
            if (rowsOf.GetCheck(row)) continue;
            (locked < 0 ? locked : free) = row;
            if (free >= 0) break;
        }
        ASSERT_GE(free, 0);
        rowsOf.LockRowCheck(locked);
        ASSERT_TRUE(clickCheckBox(list, locked));
        EXPECT_FALSE(ListView_GetCheckState(list, locked));
        EXPECT_FALSE(rowsOf.GetCheck(locked));
        EXPECT_EQ(rowsOf.CountRows(RC_ITEM_SELECTED), 0);
        ASSERT_TRUE(clickCheckBox(list, free));
        EXPECT_TRUE(rowsOf.GetCheck(free));
        EXPECT_TRUE(ListView_GetCheckState(list, free));
        EXPECT_TRUE(rowsOf.IsSelected(free));
        EXPECT_EQ(rowsOf.CountRows(RC_ITEM_SELECTED), 1);
        EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_SELECTED), free) << "the view shows the list's selection";
        ASSERT_TRUE(clickCheckBox(list, free));
        EXPECT_FALSE(rowsOf.GetCheck(free));

        // A header click sorts through the list (ascending first).
        NMLISTVIEW columnClick{};
        columnClick.hdr = NMHDR{list, 1001, LVN_COLUMNCLICK};
        columnClick.iSubItem = 4;
        SendMessageW(dialog.hwnd(), WM_NOTIFY, 1001, reinterpret_cast<LPARAM>(&columnClick));
        EXPECT_EQ(dialog.flow().list().SortColumn(), 4);
        EXPECT_EQ(cellText(list, 0, 4), dialog.flow().list().GetItemText(0, 4));

        // The version rule ticked the older rows and asked (answered 否).
        EXPECT_TRUE(sawBox(dialog, "共发现", "信息"));
        EXPECT_TRUE(checked(dialog.Item(IDC_VERSION_DIFF)));
        int ticked = 0;
        for (int row = 0; row < rows; ++row) ticked += ListView_GetCheckState(list, row) != 0;
        EXPECT_EQ(ticked, dialog.flow().list().CountRows(RC_ITEM_CHECKED));
        ASSERT_GT(ticked, 0);
        EXPECT_TRUE(checked(dialog.Item(IDC_VERIFY)));  // verified after the reboot
        EXPECT_TRUE(checked(dialog.Item(IDC_STAGES)));  // in stages: a first device per model
        click(dialog, IDC_STAGES);
        EXPECT_FALSE(dialog.flow().state().checked(IDC_STAGES));
        click(dialog, IDC_STAGES);
        EXPECT_TRUE(dialog.flow().state().checked(IDC_STAGES));
        ASSERT_TRUE(IsWindowEnabled(dialog.Item(IDC_UPGRADE)));
        click(dialog, IDC_UPGRADE);
        EXPECT_EQ(win32_narrow(windowText(dialog.Item(IDC_UPGRADE))), "取消");
        EXPECT_FALSE(IsWindowEnabled(dialog.Item(IDC_BROWSE)));
        EXPECT_FALSE(IsWindowEnabled(dialog.Item(IDC_STAGES)));  // read when the run started
        bool shot = false;
        ASSERT_TRUE(pumpUntil(
            [&] {
                if (!shot && dialog.flow().rowsWithStatus(DEVICE_STATUS_UPGRADING) > 0) {
                    pumpFor(400);  // some progress in the cells
                    screenshot(dialog.hwnd(), "upgrade");
                    shot = true;
                }
                return dialog.flow().runFinished();
            },
            180000));
        pumpFor(200);
        EXPECT_TRUE(sawBox(dialog, "升级完成！", "信息提示") || sawBox(dialog, "升级完成！", "提示"));
        EXPECT_EQ(win32_narrow(windowText(dialog.Item(IDC_UPGRADE))), "升级");
        EXPECT_TRUE(IsWindowEnabled(dialog.Item(IDC_BROWSE)));
        EXPECT_TRUE(IsWindowEnabled(dialog.Item(IDC_STAGES)));
        EXPECT_EQ(dialog.flow().rowsWithStatus(DEVICE_STATUS_UPGRADE_DONE), ticked);

        for (int row = 0; row < rows; ++row)
            EXPECT_EQ(cellText(list, row, 1), dialog.flow().list().GetItemText(row, 1))
                << failureReasonText(dialog.flow().rowReason(row));

        // The status cell's tooltip asks the list for the row's reason; other cells have none.
        for (int row = 0; row < rows; ++row)
            EXPECT_EQ(tipAt(list, row, 1), failureReasonText(dialog.flow().rowReason(row))) << row;
        EXPECT_EQ(tipAt(list, 0, 4), "");

        // The list's menu: nothing failed, so no retry; "导出报告..." writes through the save-file seam,
        // CSV (with a BOM, for spreadsheets) or JSON by the name's ending.
        const std::string csvPath = tempPath("quenta-win32-report.csv");
        script().setNextSaveFile(csvPath);
        chooseFromListMenu(dialog, kExportItem);
        EXPECT_TRUE(menuPlan.shown);
        EXPECT_FALSE(menuPlan.enabled[kRetryItem]);
        EXPECT_TRUE(menuPlan.enabled[kExportItem]);
        const std::string csv = readFile(csvPath);
        EXPECT_EQ(csv.rfind("\xEF\xBB\xBF", 0), 0u);
        for (int row = 0; row < rows; ++row) EXPECT_NE(csv.find(cellText(list, row, 4)), std::string::npos);
        const std::string jsonPath = tempPath("quenta-win32-report.json");
        script().setNextSaveFile(jsonPath);
        chooseFromListMenu(dialog, kExportItem);
        const std::string json = readFile(jsonPath);
        ASSERT_FALSE(json.empty());
        EXPECT_EQ(json.find_first_not_of(" \r\n\t"), json.find('{'));
        EXPECT_NE(json.find(cellText(list, 0, 4)), std::string::npos);
        // No box: both writes succeeded.
        EXPECT_FALSE(sawBox(dialog, "", "错误提示"));
    });
}

// The refusals shared by every front end (tests/support/refusal_rules), pressed in this window. Nothing
// answers at 192.0.2.9; 192.0.2.10 is a QN-H200 of the site.
TEST(Win32Window, EveryRefusalOfTheSharedCases) {
    REQUIRE_SITE();
    using refusal_rules::Press;
    const refusal_rules::SiteAddresses site{env("QUENTA_TEST_ADDRESS_BOX"), "192.0.2.9", "192.0.2.10",
                                            "QN-H200"};
    std::vector<refusal_rules::Refusal> cases = refusal_rules::queryRefusals(site);
    for (auto list : {refusal_rules::addRefusals(site), refusal_rules::upgradeRefusals(site)})
        cases.insert(cases.end(), list.begin(), list.end());
    withWindow([&](Cquenta_upgradeDlg& dialog) {
        loadTestPackage(dialog);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            click(dialog, c.press == Press::query ? IDC_RADIO_BATCH : IDC_RADIO_SINGLE);
            typeIp(dialog, IDC_ADDRESS_BOX_IP, "");
            click(dialog, IDC_CLEAR);
            if (checked(dialog.Item(IDC_MODELS_ALL)) == c.untickModels) click(dialog, IDC_MODELS_ALL);
            typeIp(dialog, c.press == Press::add ? IDC_SINGLE_IP : IDC_ADDRESS_BOX_IP, c.typedIp);
            if (c.listDevice) {
                typeIp(dialog, IDC_SINGLE_IP, site.device);
                click(dialog, IDC_ADD);
                ASSERT_EQ(dialog.flow().list().RowCount(), 1);
            }
            if (c.untickRows) dialog.flow().list().SetCheck(0, false);
            if (c.clearList) click(dialog, IDC_CLEAR);
            script().clearShownBoxes();
            click(dialog, c.press == Press::query ? IDC_QUERY
                          : c.press == Press::add ? IDC_ADD
                                                  : IDC_UPGRADE);
            ASSERT_FALSE(script().shownBoxes().empty()) << c.message;
            EXPECT_EQ(script().shownBoxes().back().text, c.message);
            EXPECT_EQ(script().shownBoxes().back().title, "错误提示");
            EXPECT_FALSE(dialog.flow().isUpgrading());
        }
    });
}

TEST(Win32Window, SingleIpAddAndTheAboutBox) {
    REQUIRE_SITE();
    withWindow([](Cquenta_upgradeDlg& dialog) {
        loadTestPackage(dialog);
        click(dialog, IDC_RADIO_SINGLE);
        EXPECT_TRUE(checked(dialog.Item(IDC_RADIO_SINGLE)));
        EXPECT_FALSE(checked(dialog.Item(IDC_RADIO_BATCH)));
        ASSERT_TRUE(IsWindowEnabled(dialog.Item(IDC_SINGLE_IP)));
        ASSERT_TRUE(IsWindowEnabled(dialog.Item(IDC_ADD)));
        click(dialog, IDC_ADD);  // no address yet
        EXPECT_TRUE(sawBox(dialog, "请先输入要升级设备的IP地址", "错误提示"));

        HWND list = dialog.Item(1001);
        setIpControl(dialog, IDC_SINGLE_IP, 192, 0, 2, 10);
        EXPECT_EQ(dialog.flow().state().singleIp, "192.0.2.10");
        click(dialog, IDC_ADD);
        ASSERT_EQ(ListView_GetItemCount(list), 1);
        EXPECT_EQ(cellText(list, 0, 4), "192.0.2.10");
        EXPECT_EQ(cellText(list, 0, 1), "已连接");
        setIpControl(dialog, IDC_SINGLE_IP, 192, 0, 2, 13);
        click(dialog, IDC_ADD);
        ASSERT_EQ(ListView_GetItemCount(list), 2);
        // The same address again rewrites its row instead of adding one.
        setIpControl(dialog, IDC_SINGLE_IP, 192, 0, 2, 10);
        click(dialog, IDC_ADD);
        EXPECT_EQ(ListView_GetItemCount(list), 2);
        EXPECT_EQ(ListView_GetItemCount(list), dialog.flow().list().RowCount());

        // The about box (dialog 132) runs modally over the window and closes with 确定.
        aboutSeen = AboutSeen{dialog.hwnd(), L"", {}, false, 0, &dialog};
        SetTimer(nullptr, 0, 50, &closeAbout);
        SendMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(kAboutCommand, 0), 0);
        EXPECT_EQ(win32_narrow(aboutSeen.title), "关于产品升级工具");
        expectCentredOver(aboutSeen.rect, dialog.hwnd());
        EXPECT_TRUE(aboutSeen.ownerDisabled);
        EXPECT_EQ(aboutSeen.depth, 1);
        EXPECT_EQ(dialog.modalDepth(), 0);
        EXPECT_TRUE(IsWindowEnabled(dialog.hwnd()));
        EXPECT_EQ(ownedWindow(dialog.hwnd(), L"#32770"), nullptr);
    });
}

TEST(Win32Window, CancelDuringARunEndsItAndUpgradeComesBack) {
    REQUIRE_SITE();
    withWindow([](Cquenta_upgradeDlg& dialog) {
        // No box appears over a progress box whose task has returned ("正在取消…").
        std::vector<std::string> overFinishedProgress;
        g_boxWatcher = [&dialog, &overFinishedProgress](const ShownBox& box) {
            CProgressDlg* progress = dialog.openProgress();
            if (progress != nullptr && progress->TaskDone() && IsWindowVisible(progress->hwnd()))
                overFinishedProgress.push_back(box.text);
        };
        loadTestPackage(dialog);
        setAddressBoxFromEnv(dialog);
        click(dialog, IDC_QUERY);
        if (!checked(dialog.Item(IDC_SELECT_ALL))) click(dialog, IDC_SELECT_ALL);
        ASSERT_GT(dialog.flow().list().CountRows(RC_ITEM_CHECKED), 0);
        click(dialog, IDC_UPGRADE);
        ASSERT_TRUE(dialog.flow().isUpgrading());
        ASSERT_EQ(win32_narrow(windowText(dialog.Item(IDC_UPGRADE))), "取消");
        click(dialog, IDC_UPGRADE);  // 取消: returns when the uploads are idle
        EXPECT_FALSE(dialog.flow().isUpgrading());
        EXPECT_FALSE(dialog.destroyed());
        ASSERT_TRUE(pumpUntil([&dialog] { return dialog.flow().runFinished(); }, 120000));
        ASSERT_TRUE(pumpUntil([&dialog] { return IsWindowEnabled(dialog.Item(IDC_UPGRADE)) != 0; }, 10000));
        EXPECT_EQ(win32_narrow(windowText(dialog.Item(IDC_UPGRADE))), "升级");
        EXPECT_TRUE(IsWindowEnabled(dialog.Item(IDC_QUERY)));
        EXPECT_TRUE(IsWindowEnabled(dialog.Item(IDC_BROWSE)));
        EXPECT_EQ(dialog.flow().rowsWithStatus(DEVICE_STATUS_UPGRADING), 0);
        EXPECT_EQ(dialog.flow().rowsWithStatus(DEVICE_STATUS_WAIT_UPGRADE), 0);
        HWND list = dialog.Item(1001);
        for (int row = 0; row < ListView_GetItemCount(list); ++row)
            EXPECT_EQ(cellText(list, row, 1), dialog.flow().list().GetItemText(row, 1)) << row;
        EXPECT_TRUE(overFinishedProgress.empty()) << overFinishedProgress.front();
    });
}

TEST(Win32Window, CloseDuringARunCancelsAndCloses) {
    REQUIRE_SITE();
    bool closed = false;
    withWindow([&closed](Cquenta_upgradeDlg& dialog) {
        loadTestPackage(dialog);
        unsigned a = 0, b = 0, c = 0, d = 0;
        std::sscanf(env("QUENTA_TEST_ADDRESS_BOX").c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
        setIpControl(dialog, IDC_ADDRESS_BOX_IP, BYTE(a), BYTE(b), BYTE(c), BYTE(d));
        click(dialog, IDC_QUERY);
        if (!checked(dialog.Item(IDC_SELECT_ALL))) click(dialog, IDC_SELECT_ALL);  // every connected row
        ASSERT_GT(dialog.flow().list().CountRows(RC_ITEM_CHECKED), 0);
        click(dialog, IDC_UPGRADE);
        ASSERT_TRUE(dialog.flow().isUpgrading());
        // The close box asks first; "否" keeps the window and the run.
        script().queueAnswer(IDNO);
        SendMessageW(dialog.hwnd(), WM_CLOSE, 0, 0);
        EXPECT_EQ(script().shownBoxes().back().text, flowtext::kConfirmClose);
        EXPECT_FALSE(dialog.destroyed());
        EXPECT_TRUE(dialog.flow().isUpgrading() || dialog.flow().runEnded());
        SendMessageW(dialog.hwnd(), WM_CLOSE, 0, 0);  // the close box, "是"
        closed = pumpUntil([&dialog] { return dialog.destroyed(); }, 120000);
        // The run ended by closing saved its report all the same.
        EXPECT_FALSE(dialog.flow().lastReportPath().empty()) << dialog.flow().lastReportError();
    });
    EXPECT_TRUE(closed);
}

TEST(Win32Window, FailedRowShowsItsReasonAndIsRetriedFromTheListMenu) {
    REQUIRE_SITE();
    withWindow([](Cquenta_upgradeDlg& dialog) {
        loadTestPackage(dialog);
        setAddressBoxFromEnv(dialog);
        click(dialog, IDC_QUERY);
        HWND list = dialog.Item(1001);
        const int rows = ListView_GetItemCount(list);
        int faulty = -1;  // the site's device that refuses every put
        for (int row = 0; row < rows; ++row)
            if (cellText(list, row, 4) == "192.0.2.30") faulty = row;
        ASSERT_GE(faulty, 0);
        for (int row = 0; row < rows; ++row) ASSERT_TRUE(setCheckByClick(list, row, row == faulty));
        ASSERT_EQ(dialog.flow().list().CountRows(RC_ITEM_CHECKED), 1);
        ASSERT_TRUE(dialog.flow().list().GetCheck(faulty));

        chooseFromListMenu(dialog, kRetryItem);  // nothing failed yet: grayed, the menu just closes
        EXPECT_TRUE(menuPlan.shown);
        EXPECT_FALSE(menuPlan.enabled[kRetryItem]);
        EXPECT_FALSE(dialog.flow().isUpgrading());

        click(dialog, IDC_UPGRADE);
        ASSERT_TRUE(pumpUntil([&dialog] { return dialog.flow().runFinished(); }, 120000));
        pumpFor(200);
        EXPECT_EQ(cellText(list, faulty, 1), "升级失败");
        EXPECT_EQ(tipAt(list, faulty, 1), "设备拒绝了升级包：存储空间不足（需现场处理）");
        EXPECT_EQ(dialog.flow().rowsWithStatus(DEVICE_STATUS_UPGRADE_FAILED), 1);

        // A refused package needs a person on site: "重试失败的设备" stays grayed; the row selected in
        // the list runs again with "重试选中的设备", as a new run that ends with its own box.
        chooseFromListMenu(dialog, kRetryItem);
        EXPECT_FALSE(menuPlan.enabled[kRetryItem]);
        ListView_SetItemState(list, faulty, LVIS_SELECTED, LVIS_SELECTED);
        const size_t boxes = script().shownBoxes().size();
        chooseFromListMenu(dialog, kRetrySelectedItem);
        EXPECT_TRUE(menuPlan.enabled[kRetrySelectedItem]);
        EXPECT_TRUE(menuPlan.enabled[kExportItem]);
        ASSERT_TRUE(pumpUntil(
            [&dialog, boxes] { return script().shownBoxes().size() > boxes && dialog.flow().runFinished(); },
            120000));
        pumpFor(200);
        EXPECT_EQ(cellText(list, faulty, 1), "升级失败");
        EXPECT_EQ(dialog.flow().rowsWithStatus(DEVICE_STATUS_UPGRADE_FAILED), 1);
        EXPECT_EQ(win32_narrow(windowText(dialog.Item(IDC_UPGRADE))), "升级");

        // The list holds the run's results: an address box IP edit asks first; "否" puts it back.
        const int rowsNow = ListView_GetItemCount(list);
        const std::string typed = dialog.flow().state().addressBoxIp;
        script().queueAnswer(IDNO);
        typeIp(dialog, IDC_ADDRESS_BOX_IP, "192.0.2.77");
        EXPECT_EQ(script().shownBoxes().back().text, flowtext::kConfirmClearResults);
        EXPECT_EQ(dialog.flow().state().addressBoxIp, typed);
        EXPECT_EQ(ListView_GetItemCount(list), rowsNow);
        script().queueAnswer(IDYES);
        typeIp(dialog, IDC_ADDRESS_BOX_IP, "192.0.2.77");
        EXPECT_EQ(ListView_GetItemCount(list), 0);
    });
}

}  // namespace

// --- fit to the screen and scale (scripts/windows-gui-test.sh runs these at 1366 x 768 and
// 1920 x 1080 with wine's DPI at 96, 120 and 144) ---

bool hasStyle(HWND window, LONG_PTR mask, LONG_PTR value) {
    return (GetWindowLongPtrW(window, GWL_STYLE) & mask) == value;
}

// The dialog's own visible controls (not the pieces inside an IP address control or the list).
std::vector<HWND> dialogControls(HWND dialog) {
    std::vector<HWND> controls;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        if (IsWindowVisible(child)) controls.push_back(child);
    return controls;
}

std::string describe(HWND control) {
    return std::to_string(GetDlgCtrlID(control)) + " \"" + win32_narrow(windowText(control)) + "\"";
}

// The room a control leaves its text: a check box or radio gives some to its box.
SIZE textRoom(HWND control, int dpi) {
    RECT client{};
    GetClientRect(control, &client);
    SIZE room{client.right, client.bottom};
    if (className(control) == "Button") {
        const LONG_PTR type = GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK;
        if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
            type == BS_AUTORADIOBUTTON)
            room.cx -= MulDiv(16, dpi, 96);
        else
            room.cx -= 4;  // a push button's edges
    }
    return room;
}

SIZE textExtent(HWND control) {
    const std::wstring text = windowText(control);
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    extent.cy = metrics.tmHeight;
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return extent;
}

bool inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

void expectLaidOutInside(Cquenta_upgradeDlg& dialog, const char* when) {
    SCOPED_TRACE(when);
    HWND window = dialog.hwnd();
    const RECT area = monitorWorkArea(window);
    RECT frame{};
    GetWindowRect(window, &frame);
    std::printf("[fit] %s: work area %ldx%ld, %d DPI: window %ldx%ld at (%ld,%ld), font x%.3f\n", when,
                area.right - area.left, area.bottom - area.top, dialog.dpi(), frame.right - frame.left,
                frame.bottom - frame.top, frame.left, frame.top, dialog.FontScale());
    EXPECT_TRUE(inside(frame, area));
    EXPECT_NEAR(frame.left - area.left, area.right - frame.right, 1);  // centred
    EXPECT_NEAR(frame.top - area.top, area.bottom - frame.bottom, 1);
    // The bottom row and the controls at the right end.
    for (int id : {IDC_UPGRADE, IDC_EXIT, IDC_CLEAR, IDC_ADD, IDC_SELECT_ALL, IDC_SINGLE_IP}) {
        RECT control{};
        GetWindowRect(dialog.Item(id), &control);
        EXPECT_TRUE(inside(control, area)) << describe(dialog.Item(id));
        EXPECT_TRUE(inside(control, frame)) << describe(dialog.Item(id));
    }
    // The IP address fields hold "255" in the dialog's font.
    for (int id : {IDC_ADDRESS_BOX_IP, IDC_SINGLE_IP}) {
        int fields = 0;
        for (HWND field = GetWindow(dialog.Item(id), GW_CHILD); field != nullptr;
             field = GetWindow(field, GW_HWNDNEXT), ++fields) {
            SetWindowTextW(field, L"255");
            RECT client{};
            GetClientRect(field, &client);
            EXPECT_LE(textExtent(field).cx, client.right) << describe(dialog.Item(id)) << " field " << fields;
            SetWindowTextW(field, L"");
        }
        EXPECT_EQ(fields, 4) << describe(dialog.Item(id));
    }
    // Nothing overlaps (the group box frames the model boxes); no text is cut.
    const std::vector<HWND> controls = dialogControls(window);
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (hasStyle(controls[i], BS_TYPEMASK, BS_GROUPBOX) && className(controls[i]) == "Button") continue;
        RECT a{};
        GetWindowRect(controls[i], &a);
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            if (hasStyle(controls[j], BS_TYPEMASK, BS_GROUPBOX) && className(controls[j]) == "Button")
                continue;
            RECT b{}, both{};
            GetWindowRect(controls[j], &b);
            // Neighbours that touch in dialog units may share a pixel after rounding.
            const bool overlap =
                IntersectRect(&both, &a, &b) && both.right - both.left > 1 && both.bottom - both.top > 1;
            EXPECT_FALSE(overlap) << describe(controls[i]) << " / " << describe(controls[j]);
        }
        const std::string klass = className(controls[i]);
        if ((klass != "Button" && klass != "Static") || windowText(controls[i]).empty()) continue;
        if (hasStyle(controls[i], SS_TYPEMASK, SS_BITMAP) && klass == "Static") continue;
        const SIZE text = textExtent(controls[i]);
        const SIZE room = textRoom(controls[i], dialog.dpi());
        EXPECT_LE(text.cx, room.cx) << describe(controls[i]);
        EXPECT_LE(text.cy, room.cy) << describe(controls[i]);
    }
}

TEST(Win32Fit, TheWindowFitsItsWorkAreaCentredWithoutOverlapsOrCutTexts) {
    REQUIRE_DISPLAY();
    withWindow([](Cquenta_upgradeDlg& dialog) {
        expectLaidOutInside(dialog, "empty");
        // With a package: the model boxes in the group box, in the model-box font.
        if (!env("QUENTA_TEST_PACKAGE").empty()) {
            loadTestPackage(dialog);
            ASSERT_FALSE(dialog.modelBoxWindows().empty());
            for (HWND box : dialog.modelBoxWindows())
                EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(box, WM_GETFONT, 0, 0)),
                          dialog.modelBoxFont());
            expectLaidOutInside(dialog, "package");
        }
        const std::string shot = env("QUENTA_TEST_FIT_SHOT");
        if (!shot.empty()) screenshot(dialog.hwnd(), shot);
    });
}

TEST(Win32Fit, ProgressBoxOpensCentredOverTheWindowWithAThinBorder) {
    REQUIRE_DISPLAY();
    withWindow([](Cquenta_upgradeDlg& dialog) {
        RECT box{};
        LONG_PTR style = 0;
        dialog.runProgress(
            "正在搜索网路......",
            [&dialog, &box, &style] {
                // On the box's worker: wait until the box is shown.
                for (int i = 0; i < 400; ++i) {
                    CProgressDlg* progress = dialog.openProgress();
                    if (progress != nullptr && progress->hwnd() != nullptr &&
                        IsWindowVisible(progress->hwnd())) {
                        GetWindowRect(progress->hwnd(), &box);
                        style = GetWindowLongPtrW(progress->hwnd(), GWL_STYLE);
                        break;
                    }
                    Sleep(10);
                }
                return 0;
            },
            false);
        ASSERT_NE(box.right, 0);
        expectCentredOver(box, dialog.hwnd());
        EXPECT_EQ(style & DS_MODALFRAME, 0);
        EXPECT_EQ(style & WS_CAPTION, WS_BORDER);
    });
}

TEST(Win32Fit, ColumnsAndModelBoxFontFollowTheWindowsDpi) {
    REQUIRE_DISPLAY();
    withWindow([](Cquenta_upgradeDlg& dialog) {
        HWND list = dialog.Item(1001);
        const int dpi = dialog.dpi();
        EXPECT_EQ(ListView_GetColumnWidth(list, 4), MulDiv(150, dpi, 96));
        LOGFONTW font{};
        GetObjectW(dialog.modelBoxFont(), sizeof font, &font);
        EXPECT_NEAR(-font.lfHeight, MulDiv(8, dpi, 72) * dialog.FontScale(), 1.0);
        // Moved to a monitor of twice the DPI: re-laid out once the dialog manager is done.
        RECT frame{};
        GetWindowRect(dialog.hwnd(), &frame);
        SendMessageW(dialog.hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi * 2, dpi * 2),
                     reinterpret_cast<LPARAM>(&frame));
        pumpFor(100);
        EXPECT_EQ(dialog.dpi(), dpi * 2);
        EXPECT_EQ(ListView_GetColumnWidth(list, 4), MulDiv(150, dpi * 2, 96));
        GetObjectW(dialog.modelBoxFont(), sizeof font, &font);
        EXPECT_NEAR(-font.lfHeight, MulDiv(8, dpi * 2, 72) * dialog.FontScale(), 1.0);
        SendMessageW(dialog.hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&frame));
        pumpFor(100);
        EXPECT_EQ(ListView_GetColumnWidth(list, 4), MulDiv(150, dpi, 96));
    });
}

TEST(Win32Window, LockedCheckBoxDoesNotMoveAndSyncsKeepUnchangedTexts) {
    REQUIRE_DISPLAY();
    withWindow([](Cquenta_upgradeDlg& dialog) {
        DeviceList& rows = dialog.flow().list();
        HWND list = dialog.Item(1001);
        ASSERT_EQ(rows.InsertRow(0), 0);
        ASSERT_EQ(rows.InsertRow(1), 1);
        rows.SetCellText(0, 4, "192.0.2.10");
        rows.SetCellText(1, 4, "192.0.2.11");
        rows.LockRowCheck(0);
        // The view is virtual: texts and boxes come from the list.
        EXPECT_NE(GetWindowLongPtrW(list, GWL_STYLE) & LVS_OWNERDATA, 0);
        EXPECT_EQ(ListView_GetItemCount(list), 2);
        EXPECT_EQ(cellText(list, 1, 4), "192.0.2.11");
        const int before = ListView_GetCheckState(list, 0);
        ASSERT_TRUE(clickCheckBox(list, 0));
        EXPECT_EQ(ListView_GetCheckState(list, 0), before) << "a locked box does not flip";
        EXPECT_EQ(rows.GetCheck(0), before != 0);
        // A state set from outside counts as a click where the view reports it; never on a locked row.
        ListView_SetCheckState(list, 0, before == 0);
        EXPECT_EQ(rows.GetCheck(0), before != 0);
        ASSERT_TRUE(setCheckByClick(list, 1, true));
        EXPECT_TRUE(ListView_GetCheckState(list, 1));
        EXPECT_TRUE(rows.GetCheck(1));
        // A row inserted above moves the selection with its row.
        rows.SetSelection({1}, 1);
        EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_SELECTED), 1);
        ASSERT_EQ(rows.InsertRow(0), 0);
        EXPECT_EQ(ListView_GetItemCount(list), 3);
        EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_SELECTED), 2);
        EXPECT_EQ(cellText(list, 2, 4), "192.0.2.11");
        ASSERT_TRUE(rows.DeleteRow(0));
        EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_SELECTED), 1);
        // A sync with the same texts leaves the path box's caret where the operator put it.
        HWND path = dialog.Item(IDC_PATH_BOX);
        dialog.flow().state().setText(IDC_PATH_BOX, "C:\\升级包.quenta");
        dialog.stateChanged(kChangedControls);
        EXPECT_EQ(win32_narrow(windowText(path)), "C:\\升级包.quenta");
        SendMessageW(path, EM_SETSEL, 3, 3);
        dialog.stateChanged(kChangedControls);
        DWORD from = 0, to = 0;
        SendMessageW(path, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
        EXPECT_EQ(from, 3u);
    });
}

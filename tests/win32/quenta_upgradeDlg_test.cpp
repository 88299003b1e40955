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
quenta_test::BoxScript& script() {
    return *g_script;
}

// Opens the window, runs `script` inside its modal loop, then presses "退出" if the window is still up.
void withWindow(const std::function<void(Cquenta_upgradeDlg&)>& script) {
    quenta_test::BoxScript boxes([](const ShownBox& box) -> std::optional<int> {
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
        EXPECT_EQ(column.cx, 150);
        EXPECT_NE(ListView_GetExtendedListViewStyle(list) & LVS_EX_CHECKBOXES, 0u);
        // Disabled buttons do nothing when pressed.
        click(dialog, IDC_QUERY);
        EXPECT_TRUE(script().shownBoxes().empty());
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
        // Check-box clicks reach the list through LVN_ITEMCHANGED: a locked row flips back, an
        // unlocked one follows and becomes the only selected row; rows written by code did not count
        // as clicks (nothing was selected by the query).
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
        ListView_SetCheckState(list, locked, TRUE);  // as the operator's click would
        EXPECT_FALSE(ListView_GetCheckState(list, locked));
        EXPECT_FALSE(rowsOf.GetCheck(locked));
        EXPECT_EQ(rowsOf.CountRows(RC_ITEM_SELECTED), 0);
        ListView_SetCheckState(list, free, TRUE);
        EXPECT_TRUE(rowsOf.GetCheck(free));
        EXPECT_TRUE(rowsOf.IsSelected(free));
        EXPECT_EQ(rowsOf.CountRows(RC_ITEM_SELECTED), 1);
        ListView_SetCheckState(list, free, FALSE);
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
        ASSERT_TRUE(IsWindowEnabled(dialog.Item(IDC_UPGRADE)));
        click(dialog, IDC_UPGRADE);
        EXPECT_EQ(win32_narrow(windowText(dialog.Item(IDC_UPGRADE))), "取消");
        EXPECT_FALSE(IsWindowEnabled(dialog.Item(IDC_BROWSE)));
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
        aboutSeen = AboutSeen{dialog.hwnd(), L"", false, 0, &dialog};
        SetTimer(nullptr, 0, 50, &closeAbout);
        SendMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(kAboutCommand, 0), 0);
        EXPECT_EQ(win32_narrow(aboutSeen.title), "关于产品升级工具");
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
        for (int row = 0; row < rows; ++row) ListView_SetCheckState(list, row, row == faulty);
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

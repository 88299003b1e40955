// test-labels: windows
// The dialog template's header and its font patch, the fit and centring arithmetic, and the
// program's resources (the dialogs, the version with its patch number, the icon's sizes, the
// manifest's execution level), read from this test's own resources. No display needed.
#include "win32/quenta_upgradeDlg.h"  // before windows.h

#include "engine/file_filter.h"
#include "win32/dialog_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "win32/resource.h"

namespace {

std::vector<std::uint8_t> resourceBytes(const wchar_t* type, int id) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) return {};
    const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, found)));
    return std::vector<std::uint8_t>(data, data + SizeofResource(module, found));
}

TEST(DialogTemplate, ReadsAndPatchesTheMainDialogsFont) {
    std::vector<std::uint8_t> bytes =
        resourceBytes(reinterpret_cast<LPCWSTR>(RT_DIALOG), IDD_QUENTA_UPGRADE_DIALOG);
    ASSERT_FALSE(bytes.empty());
    auto info = readDialogTemplate(bytes);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->extended);
    EXPECT_EQ(info->width, 900);
    EXPECT_EQ(info->height, 472);
    EXPECT_TRUE(info->hasFont);
    EXPECT_EQ(info->pointSize, 9);
    EXPECT_EQ(info->face, L"宋体");
    EXPECT_NE(info->style & WS_CAPTION, 0u);

    const std::vector<std::uint8_t> original = bytes;
    ASSERT_TRUE(setTemplatePointSize(bytes, 7));
    auto patched = readDialogTemplate(bytes);
    ASSERT_TRUE(patched);
    EXPECT_EQ(patched->pointSize, 7);
    EXPECT_EQ(patched->face, L"宋体");
    EXPECT_EQ(patched->weight, info->weight);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) differing += bytes[i] != original[i];
    EXPECT_EQ(differing, 1u);  // the point size's low byte, nothing else
    EXPECT_FALSE(setTemplatePointSize(bytes, 0));
    EXPECT_FALSE(setTemplatePointSize(bytes, 200));

    // Cut short anywhere in the header: refused, never read past the end.
    for (std::size_t size = 0; size < info->pointSizeOffset + 4; ++size) {
        std::vector<std::uint8_t> cut(original.begin(), original.begin() + static_cast<long>(size));
        EXPECT_FALSE(readDialogTemplate(cut)) << size;
    }
}

TEST(DialogTemplate, ProgressBoxHasAThinBorderAndNoModalFrame) {
    auto info = readDialogTemplate(resourceBytes(reinterpret_cast<LPCWSTR>(RT_DIALOG), IDD_PROGRESS_DIALOG));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->style & DS_MODALFRAME, 0u);
    EXPECT_EQ(info->style & WS_CAPTION, static_cast<DWORD>(WS_BORDER));
}

TEST(DialogFit, LargestFittingPointSizeStopsAtHalf) {
    EXPECT_EQ(largestFittingPointSize(9, [](int) { return true; }), 9);
    EXPECT_EQ(largestFittingPointSize(9, [](int size) { return size <= 7; }), 7);
    EXPECT_EQ(largestFittingPointSize(9, [](int) { return false; }), 5);  // half of 9, rounded up
    EXPECT_EQ(largestFittingPointSize(1, [](int) { return false; }), 1);
    int asked = 0;
    largestFittingPointSize(9, [&asked](int) { return ++asked, false; });
    EXPECT_EQ(asked, 4);  // 9, 8, 7, 6
}

TEST(DialogFit, CentredPositionStaysInsideTheWorkArea) {
    const RECT area{0, 0, 1366, 728};
    POINT at = centredPosition(SIZE{1000, 600}, area, area);
    EXPECT_EQ(at.x, 183);
    EXPECT_EQ(at.y, 64);
    // Over an owner near the right edge: pushed back inside.
    at = centredPosition(SIZE{400, 200}, RECT{1200, 600, 1366, 728}, area);
    EXPECT_EQ(at.x, 966);
    EXPECT_EQ(at.y, 528);
    // On a second monitor left of the first.
    const RECT left{-1920, 0, 0, 1040};
    at = centredPosition(SIZE{1000, 600}, left, left);
    EXPECT_EQ(at.x, -1460);
    EXPECT_EQ(at.y, 220);
    EXPECT_EQ(scaleForDpi(150, 144), 225);
}

TEST(ProgramResources, VersionIconAndManifest) {
    // VS_FIXEDFILEINFO: file version 1.0.patch.0, its patch the project's.
    const std::vector<std::uint8_t> version = resourceBytes(reinterpret_cast<LPCWSTR>(RT_VERSION), 1);
    ASSERT_FALSE(version.empty());
    const std::uint8_t signature[] = {0xBD, 0x04, 0xEF, 0xFE};
    auto at = std::search(version.begin(), version.end(), std::begin(signature), std::end(signature));
    ASSERT_NE(at, version.end());
    VS_FIXEDFILEINFO fixed{};
    ASSERT_GE(version.end() - at, static_cast<long>(sizeof fixed));
    std::memcpy(&fixed, &*at, sizeof fixed);
    EXPECT_EQ(HIWORD(fixed.dwFileVersionMS), 1);
    EXPECT_EQ(LOWORD(fixed.dwFileVersionMS), 0);
    EXPECT_EQ(HIWORD(fixed.dwFileVersionLS), 0);  // the patch number
    EXPECT_EQ(fixed.dwProductVersionMS, fixed.dwFileVersionMS);
    EXPECT_EQ(fixed.dwProductVersionLS, fixed.dwFileVersionLS);

    // The icon group: 16, 20, 24, 32, 48 and 256 pixels (256 written as 0).
    const std::vector<std::uint8_t> group =
        resourceBytes(reinterpret_cast<LPCWSTR>(RT_GROUP_ICON), IDR_MAINFRAME);
    ASSERT_GE(group.size(), 6u);
    const int count = group[4] | (group[5] << 8);
    ASSERT_EQ(group.size(), 6u + 14u * count);
    std::vector<int> sizes;
    for (int i = 0; i < count; ++i) sizes.push_back(group[6 + 14 * i] == 0 ? 256 : group[6 + 14 * i]);
    EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 48, 256}));

    const std::vector<std::uint8_t> manifest = resourceBytes(reinterpret_cast<LPCWSTR>(RT_MANIFEST), 1);
    const std::string text(manifest.begin(), manifest.end());
    EXPECT_NE(text.find("requestedExecutionLevel level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(text.find("PerMonitorV2"), std::string::npos);
}

TEST(FileDialogFilter, NamesShowTheirPatternsAsInTheQtWindow) {
    const std::wstring filter = Cquenta_upgradeDlg::toDialogFilter(packageFileFilters());
    const std::wstring expected = std::wstring(L"昆塔升级文件 (*.quenta)") + L'\0' + L"*.quenta" + L'\0' +
                                  L"所有文件 (*.*)" + L'\0' + L"*.*" + L'\0' + L'\0';
    EXPECT_EQ(filter, expected);
}

}  // namespace

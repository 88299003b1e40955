// Fitting a dialog resource to the screen; see dialog_fit.h.
#include "win32/dialog_fit.h"

#include <algorithm>
#include <cstring>

namespace {

class Reader {
  public:
    explicit Reader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    bool ok() const { return ok_; }
    std::size_t offset() const { return offset_; }
    std::uint32_t take(std::size_t size) {
        if (!ok_ || bytes_.size() - offset_ < size) {
            ok_ = false;
            return 0;
        }
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < size; ++i) value |= std::uint32_t(bytes_[offset_ + i]) << (8 * i);
        offset_ += size;
        return value;
    }
    std::wstring text() {
        std::wstring out;
        for (;;) {
            const auto c = static_cast<wchar_t>(take(2));
            if (!ok_ || c == 0) return out;
            out.push_back(c);
        }
    }
    // A menu or class field: none (0), an ordinal (0xFFFF, n) or a string.
    void skipNameOrOrdinal() {
        if (!ok_ || bytes_.size() - offset_ < 2) {
            ok_ = false;
            return;
        }
        const std::uint32_t first = bytes_[offset_] | (bytes_[offset_ + 1] << 8);
        if (first == 0) {
            take(2);
        } else if (first == 0xFFFF) {
            take(4);
        } else {
            text();
        }
    }

  private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t offset_ = 0;
    bool ok_ = true;
};

using DpiForWindow = UINT(WINAPI*)(HWND);
using DpiForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

int screenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

}  // namespace

std::optional<DialogTemplateInfo> readDialogTemplate(const std::vector<std::uint8_t>& bytes) {
    Reader in(bytes);
    DialogTemplateInfo info;
    const std::uint32_t version = in.take(2);
    const std::uint32_t signature = in.take(2);
    if (!in.ok()) return std::nullopt;
    info.extended = version == 1 && signature == 0xFFFF;
    if (info.extended) {
        in.take(4);  // help id
        info.exStyle = in.take(4);
        info.style = in.take(4);
    } else {
        Reader header(bytes);
        info.style = header.take(4);
        info.exStyle = header.take(4);
        in.take(4);  // the rest of the two double words
    }
    in.take(2);  // number of controls
    in.take(4);  // x, y
    info.width = static_cast<std::int16_t>(in.take(2));
    info.height = static_cast<std::int16_t>(in.take(2));
    in.skipNameOrOrdinal();  // menu
    in.skipNameOrOrdinal();  // window class
    in.text();               // caption
    if (!in.ok()) return std::nullopt;
    info.hasFont = (info.style & (DS_SETFONT | DS_SHELLFONT)) != 0;
    if (info.hasFont) {
        info.pointSizeOffset = in.offset();
        info.pointSize = static_cast<int>(in.take(2));
        if (info.extended) {
            info.weight = static_cast<int>(in.take(2));
            info.italic = in.take(1) != 0;
            info.charset = static_cast<int>(in.take(1));
        }
        info.face = in.text();
        if (!in.ok()) return std::nullopt;
    }
    return info;
}

bool setTemplatePointSize(std::vector<std::uint8_t>& bytes, int pointSize) {
    const std::optional<DialogTemplateInfo> info = readDialogTemplate(bytes);
    if (!info || !info->hasFont || pointSize < 1 || pointSize > 72) return false;
    bytes[info->pointSizeOffset] = static_cast<std::uint8_t>(pointSize & 0xFF);
    bytes[info->pointSizeOffset + 1] = static_cast<std::uint8_t>(pointSize >> 8);
    return true;
}

DialogBaseUnits measureBaseUnits(const DialogTemplateInfo& info, int pointSize, int dpi) {
    // As the dialog manager does: the average width of the 52 Latin letters, rounded, and the
    // font's height.
    DialogBaseUnits units{4, 8};
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return units;
    HFONT font =
        CreateFontW(-MulDiv(pointSize, dpi, 72), 0, 0, 0, info.weight, info.italic ? TRUE : FALSE, FALSE,
                    FALSE, static_cast<BYTE>(info.charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, info.face.c_str());
    if (font != nullptr) {
        HGDIOBJ old = SelectObject(screen, font);
        static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
        SIZE extent{};
        TEXTMETRICW metrics{};
        if (GetTextExtentPoint32W(screen, kLetters, 52, &extent) && GetTextMetricsW(screen, &metrics)) {
            units.x = std::max<int>((extent.cx / 26 + 1) / 2, 1);
            units.y = std::max<int>(metrics.tmHeight, 1);
        }
        SelectObject(screen, old);
        DeleteObject(font);
    }
    ReleaseDC(nullptr, screen);
    return units;
}

SIZE dialogWindowSize(const DialogTemplateInfo& info, DialogBaseUnits units) {
    RECT frame{0, 0, MulDiv(info.width, units.x, 4), MulDiv(info.height, units.y, 8)};
    AdjustWindowRectEx(&frame, info.style & ~WS_VISIBLE, FALSE, info.exStyle);
    return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

int largestFittingPointSize(int designed, const std::function<bool(int pointSize)>& fits) {
    const int smallest = std::max(1, (designed + 1) / 2);  // below half size texts are not readable
    for (int size = designed; size > smallest; --size) {
        if (fits(size)) return size;
    }
    return smallest;
}

RECT workAreaFor(HWND owner) {
    HMONITOR monitor = nullptr;
    if (owner != nullptr) {
        monitor = MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST);
    } else {
        POINT pointer{};
        GetCursorPos(&pointer);
        monitor = MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY);
    }
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (monitor != nullptr && GetMonitorInfoW(monitor, &info)) return info.rcWork;
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

int monitorDpi(const RECT& area) {
    // shcore's GetDpiForMonitor where the system has it (looked up: no import the program needs).
    static const DpiForMonitor forMonitor = [] {
        HMODULE shcore = LoadLibraryW(L"shcore.dll");
        return shcore != nullptr ? reinterpret_cast<DpiForMonitor>(
                                       reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")))
                                 : nullptr;
    }();
    if (forMonitor != nullptr) {
        UINT x = 0, y = 0;
        if (forMonitor(MonitorFromRect(&area, MONITOR_DEFAULTTONEAREST), 0, &x, &y) == S_OK && y > 0)
            return static_cast<int>(y);
    }
    return screenDpi();
}

int windowDpi(HWND window) {
    static const DpiForWindow forWindow = reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (forWindow != nullptr && window != nullptr) {
        const UINT dpi = forWindow(window);
        if (dpi > 0) return static_cast<int>(dpi);
    }
    return screenDpi();
}

std::optional<FittedTemplate> fitDialogTemplate(HINSTANCE module, int resourceId, const RECT& area, int dpi) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(resourceId), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = found != nullptr ? SizeofResource(module, found) : 0;
    if (data == nullptr || size == 0) return std::nullopt;
    FittedTemplate fitted;
    fitted.bytes.assign(static_cast<const std::uint8_t*>(data),
                        static_cast<const std::uint8_t*>(data) + size);
    const std::optional<DialogTemplateInfo> info = readDialogTemplate(fitted.bytes);
    if (!info) return std::nullopt;
    fitted.designedPointSize = fitted.pointSize = info->pointSize;
    const LONG roomX = area.right - area.left, roomY = area.bottom - area.top;
    if (info->hasFont && info->pointSize > 0)
        fitted.pointSize = largestFittingPointSize(info->pointSize, [&](int pointSize) {
            const SIZE window = dialogWindowSize(*info, measureBaseUnits(*info, pointSize, dpi));
            return window.cx <= roomX && window.cy <= roomY;
        });
    if (fitted.pointSize != info->pointSize) setTemplatePointSize(fitted.bytes, fitted.pointSize);
    // Shown once placed (the style's double word: after version and signature, or first).
    const std::size_t styleAt = info->extended ? 12 : 0;
    const DWORD style = info->style & ~WS_VISIBLE;
    std::memcpy(fitted.bytes.data() + styleAt, &style, sizeof style);
    return fitted;
}

void setChildrenFont(HWND control, HFONT font) {
    if (control == nullptr || font == nullptr) return;
    for (HWND child = GetWindow(control, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

POINT centredPosition(SIZE size, const RECT& over, const RECT& area) {
    LONG x = over.left + (over.right - over.left - size.cx) / 2;
    LONG y = over.top + (over.bottom - over.top - size.cy) / 2;
    x = std::max(area.left, std::min(x, area.right - size.cx));
    y = std::max(area.top, std::min(y, area.bottom - size.cy));
    return POINT{x, y};
}

void centreWindow(HWND window, HWND owner, const RECT& area) {
    RECT own{};
    GetWindowRect(window, &own);
    RECT over = area;
    if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &over);
    const POINT at = centredPosition(SIZE{own.right - own.left, own.bottom - own.top}, over, area);
    SetWindowPos(window, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

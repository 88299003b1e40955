// Fitting a dialog resource to the screen. A dialog template lays its controls out in dialog units,
// which follow the dialog's font: shrinking the template's point size shrinks the whole layout by
// one factor, as the Qt window shrinks its font. fitDialogTemplate loads the template, measures the
// dialog at the monitor's DPI and, when it does not fit the monitor's work area, patches the
// largest point size that fits (never below half the designed size). The window is then placed
// centred: in the work area, or over its owner.
//
// Per-monitor DPI: windowDpi asks the window (GetDpiForWindow where the system has it) and falls
// back to the screen's LOGPIXELSY; scaleForDpi converts a 96-DPI pixel figure.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// What the header of a dialog template (DLGTEMPLATE or DLGTEMPLATEEX) says.
struct DialogTemplateInfo {
    bool extended = false;
    DWORD style = 0;
    DWORD exStyle = 0;
    int width = 0;  // dialog units
    int height = 0;
    bool hasFont = false;
    int pointSize = 0;
    int weight = FW_NORMAL;
    bool italic = false;
    int charset = DEFAULT_CHARSET;
    std::wstring face;
    std::size_t pointSizeOffset = 0;  // byte offset of the point size in the template
};

// Reads a template's header; none when the bytes are not a whole header.
std::optional<DialogTemplateInfo> readDialogTemplate(const std::vector<std::uint8_t>& bytes);
// Writes a new point size (1..72); false when the template has no font.
bool setTemplatePointSize(std::vector<std::uint8_t>& bytes, int pointSize);

// Dialog base units of a font (pixels of 4 horizontal and 8 vertical dialog units).
struct DialogBaseUnits {
    int x = 0;
    int y = 0;
};
DialogBaseUnits measureBaseUnits(const DialogTemplateInfo& info, int pointSize, int dpi);
// The outer size of the dialog in pixels with those base units (frame and caption included).
SIZE dialogWindowSize(const DialogTemplateInfo& info, DialogBaseUnits units);

// The largest point size from `designed` down to half of it (at least 1) for which `fits` holds;
// the smallest of that range when none does.
int largestFittingPointSize(int designed, const std::function<bool(int pointSize)>& fits);

// The work area of the monitor a window opens on: its owner's, else the one under the pointer.
RECT workAreaFor(HWND owner);
int monitorDpi(const RECT& area);
int windowDpi(HWND window);
inline int scaleForDpi(int pixelsAt96, int dpi) {
    return MulDiv(pixelsAt96, dpi, 96);
}

// A dialog template made ready for CreateDialogIndirectParamW.
struct FittedTemplate {
    std::vector<std::uint8_t> bytes;
    int designedPointSize = 0;
    int pointSize = 0;
    double factor() const {
        return designedPointSize > 0 ? static_cast<double>(pointSize) / designedPointSize : 1.0;
    }
};
// Loads dialog `resourceId`, shrinks its font to fit `area` at `dpi` and drops WS_VISIBLE (the
// window is shown once placed); none when the resource is missing or malformed.
std::optional<FittedTemplate> fitDialogTemplate(HINSTANCE module, int resourceId, const RECT& area, int dpi);

// Top-left corner that centres `size` over `over`, moved inside `area` as far as it fits.
POINT centredPosition(SIZE size, const RECT& over, const RECT& area);
// Gives a compound control's children (the four fields of an IP address control) `font`: not every
// such control passes the dialog's WM_SETFONT on, and its fields would keep a larger font than the
// shrunk dialog's.
void setChildrenFont(HWND control, HFONT font);

// Centres a window over its owner (or in `area` when it has none or the owner is hidden), inside
// `area`.
void centreWindow(HWND window, HWND owner, const RECT& area);

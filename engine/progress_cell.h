// The progress cell of the device list as plain geometry, so both windows' lists (the Windows
// list's custom draw, the Qt list's delegate) and their tests share one description: the white box with its
// black frame (cell bounds, bottom up by 1, left edge right by 1), the green bar inside it, and the percent
// text drawn centred in blue inside the cell shrunk by 1. Rectangles have exclusive right / bottom edges, as
// Windows' RECT.
#pragma once

#include <string>

#include "engine/device_list.h"

struct CellRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

struct ProgressCellDrawing {
    CellRect box;          // filled white, framed black
    bool hasBar = false;   // percent > 0
    CellRect bar;          // filled RGB(0, 255, 0)
    bool hasText = false;  // percent > 0 and show text
    std::string text;      // e.g. "37%"
    CellRect textBounds;   // the cell shrunk by 1
};

ProgressCellDrawing progressCellDrawing(const CellRect& cell, const PROGRESS_DATA& progress);

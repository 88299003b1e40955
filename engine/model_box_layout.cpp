// Model check box layout; see model_box_layout.h.
#include "engine/model_box_layout.h"

#include <algorithm>

namespace {
constexpr int kMarginX = 10;       // left and right of the rows
constexpr int kMarginTop = 10;     // below the group box's top edge
constexpr int kMarginBottom = 3;   // above its bottom edge (the frame)
constexpr int kRowHeight = 13;     // one line of "Courier New" 8 pt with the check mark
constexpr int kMinRowHeight = 10;  // the height of the window's other check boxes
constexpr int kPerRow = 12;
}  // namespace

namespace {
constexpr int kWindowBoxWidth = 110;  // the window's own geometry: 110 units a box, twelve to a row

// Box k of a row at left + 10 + 110·k, rows 13 apart; empty when any box would leave the group box
// (beyond the eighth of a row in the usual window).
std::vector<ModelBoxRect> windowLayout(int count, int groupWidth, int groupHeight) {
    std::vector<ModelBoxRect> boxes;
    for (int index = 0; index < count; ++index) {
        ModelBoxRect box{kMarginX + kWindowBoxWidth * (index % kPerRow),
                         kMarginTop + kRowHeight * (index / kPerRow), kWindowBoxWidth, kRowHeight};
        if (box.x + box.width > groupWidth || box.y + box.height > groupHeight - kMarginBottom) return {};
        boxes.push_back(box);
    }
    return boxes;
}
}  // namespace

std::vector<ModelBoxRect> layoutModelBoxes(int count, int groupWidth, int groupHeight) {
    std::vector<ModelBoxRect> boxes;
    if (count <= 0) return boxes;
    boxes = windowLayout(count, groupWidth, groupHeight);
    if (!boxes.empty()) return boxes;
    const int usableWidth = std::max(groupWidth - 2 * kMarginX, 1);
    const int usableHeight = std::max(groupHeight - kMarginTop - kMarginBottom, 1);
    const int maxRows = std::max(usableHeight / kMinRowHeight, 1);
    int columns = kPerRow;
    if ((count + columns - 1) / columns > maxRows) columns = (count + maxRows - 1) / maxRows;
    const int rows = (count + columns - 1) / columns;
    const int width = std::max(usableWidth / columns, 1);
    const int height = std::max(std::min(kRowHeight, usableHeight / rows), 1);
    boxes.reserve(static_cast<size_t>(count));
    for (int index = 0; index < count; ++index) {
        ModelBoxRect box;
        box.x = kMarginX + width * (index % columns);
        box.y = kMarginTop + height * (index / columns);
        box.width = width;
        box.height = height;
        boxes.push_back(box);
    }
    return boxes;
}

// Progress cell geometry; see progress_cell.h.
#include "engine/progress_cell.h"

ProgressCellDrawing progressCellDrawing(const CellRect& cell, const PROGRESS_DATA& progress) {
    ProgressCellDrawing drawing;
    drawing.box = {cell.left + 1, cell.top, cell.right, cell.bottom - 1};
    const int percent = progress.percent;
    if (percent <= 0) return drawing;
    const CellRect& box = drawing.box;
    drawing.hasBar = true;
    drawing.bar = {box.left + 1, box.top + 1, box.left + percent * (box.right - (box.left + 1)) / 100,
                   box.bottom - 1};
    if (progress.showText == 0) return drawing;
    drawing.hasText = true;
    drawing.text = formatProgressPercent(progress.textFormat, percent);
    drawing.textBounds = {cell.left + 1, cell.top + 1, cell.right - 1, cell.bottom - 1};
    return drawing;
}

// The progress cell's drawing inputs: box, bar and text for the percents the list shows.
#include "engine/progress_cell.h"

#include <gtest/gtest.h>

namespace {

PROGRESS_DATA progressAt(int percent, int showText = 1, std::string format = {}) {
    PROGRESS_DATA progress;
    progress.inUse = 1;
    progress.percent = percent;
    progress.showText = showText;
    progress.textFormat = std::move(format);
    return progress;
}

const CellRect kCell{100, 20, 250, 40};  // 150 x 20 pixels

TEST(ProgressCellDrawing, ZeroPercentIsTheFramedBoxAlone) {
    const ProgressCellDrawing drawing = progressCellDrawing(kCell, progressAt(0));
    EXPECT_EQ(drawing.box.left, 101);  // left edge right by 1
    EXPECT_EQ(drawing.box.top, 20);
    EXPECT_EQ(drawing.box.right, 250);
    EXPECT_EQ(drawing.box.bottom, 39);  // bottom up by 1
    EXPECT_FALSE(drawing.hasBar);
    EXPECT_FALSE(drawing.hasText);
    EXPECT_FALSE(progressCellDrawing(kCell, progressAt(-5)).hasBar);
}

TEST(ProgressCellDrawing, BarWidthTruncatesAndFullFillsTheInnerBox) {
    const ProgressCellDrawing half = progressCellDrawing(kCell, progressAt(37));
    ASSERT_TRUE(half.hasBar);
    EXPECT_EQ(half.bar.left, 102);
    EXPECT_EQ(half.bar.top, 21);
    EXPECT_EQ(half.bar.bottom, 38);
    EXPECT_EQ(half.bar.right, 101 + 37 * (250 - 102) / 100);  // 155, truncated from 155.76
    const ProgressCellDrawing full = progressCellDrawing(kCell, progressAt(100));
    EXPECT_EQ(full.bar.right, 249);  // the inner box's right edge inside the frame
}

TEST(ProgressCellDrawing, TextFollowsShowTextAndFormat) {
    const ProgressCellDrawing drawing = progressCellDrawing(kCell, progressAt(37));
    ASSERT_TRUE(drawing.hasText);
    EXPECT_EQ(drawing.text, "37%");
    EXPECT_EQ(drawing.textBounds.left, 101);
    EXPECT_EQ(drawing.textBounds.right, 249);
    EXPECT_FALSE(progressCellDrawing(kCell, progressAt(37, 0)).hasText);
    EXPECT_EQ(progressCellDrawing(kCell, progressAt(5, 1, "已传 %d%%")).text, "已传 5%");
}

TEST(ProgressCellDrawing, OtherConversionsInTheFormatAreNotRead) {
    // A format with %s or %n would read or write past the one argument; only %d and %% are read.
    EXPECT_EQ(formatProgressPercent("%s%n%d", 9), "%s%n9");
    EXPECT_EQ(formatProgressPercent("%", 9), "%");
}

}  // namespace

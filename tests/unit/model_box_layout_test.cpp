// Model check box layout: for packages of 1 to 48 models (and beyond) every box lies inside group
// box 1035, clear of its frame and of the row of controls below it, no two boxes overlap, and each
// keeps a readable size; up to 48 models they stay in rows of twelve.
#include <gtest/gtest.h>

#include "engine/model_box_layout.h"

namespace {

bool overlap(const ModelBoxRect& a, const ModelBoxRect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

class ModelBoxLayoutTest : public ::testing::TestWithParam<int> {};

TEST_P(ModelBoxLayoutTest, EveryBoxInsideTheGroupBoxAndApart) {
    const int count = GetParam();
    const std::vector<ModelBoxRect> boxes = layoutModelBoxes(count);
    ASSERT_EQ(static_cast<size_t>(count), boxes.size());
    for (int i = 0; i < count; ++i) {
        const ModelBoxRect& box = boxes[static_cast<size_t>(i)];
        SCOPED_TRACE("box " + std::to_string(i) + " of " + std::to_string(count));
        // Inside the frame of 1035 (0, 51, 897, 74): the row of 1009-1030 starts 3 units below it.
        EXPECT_GE(box.x, 2);
        EXPECT_GE(box.y, 2);
        EXPECT_LE(box.x + box.width, kModelGroupWidth - 2);
        EXPECT_LE(box.y + box.height, kModelGroupHeight - 2);
        EXPECT_GE(box.height, 10) << "as high as the window's other check boxes";
        if (count <= 48) {
            EXPECT_GE(box.width, 70) << "a model name in Courier New 8 pt";
        }
        for (int j = 0; j < i; ++j) EXPECT_FALSE(overlap(box, boxes[static_cast<size_t>(j)])) << "box " << j;
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, ModelBoxLayoutTest,
                         ::testing::Values(1, 2, 8, 9, 12, 13, 24, 30, 47, 48, 60, 72, 100));

TEST(ModelBoxLayout, RowsOfTwelveAsTheWindowAlwaysHad) {
    const std::vector<ModelBoxRect> boxes = layoutModelBoxes(48);
    for (int i = 0; i < 48; ++i) {
        EXPECT_EQ(boxes[static_cast<size_t>(i % 12)].x, boxes[static_cast<size_t>(i)].x) << i;
        EXPECT_EQ(10 + 13 * (i / 12), boxes[static_cast<size_t>(i)].y) << i;
    }
    EXPECT_EQ(10, boxes[0].x);
}

TEST(ModelBoxLayout, TheWindowsOwnGeometryWhileEveryBoxFits) {
    for (int count : {1, 5, 8}) {
        const std::vector<ModelBoxRect> boxes = layoutModelBoxes(count);
        for (int k = 0; k < count; ++k) {
            const ModelBoxRect& box = boxes[static_cast<size_t>(k)];
            EXPECT_EQ(10 + 110 * k, box.x) << k << " of " << count;
            EXPECT_EQ(10, box.y);
            EXPECT_EQ(110, box.width);
            EXPECT_EQ(13, box.height);
        }
    }
    // A ninth box of 110 units would end at 1000, past the group box's 897: all narrower then.
    const std::vector<ModelBoxRect> nine = layoutModelBoxes(9);
    EXPECT_LT(nine[0].width, 110);
    EXPECT_LE(nine[8].x + nine[8].width, kModelGroupWidth);
}

TEST(ModelBoxLayout, NothingForNoModels) {
    EXPECT_TRUE(layoutModelBoxes(0).empty());
    EXPECT_TRUE(layoutModelBoxes(-3).empty());
}

}  // namespace

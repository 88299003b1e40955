// Where the model check boxes go inside group box 1035 (897 x 74 dialog units): one box per model of
// the loaded package, twelve to a row, each box inside the group box and clear of its frame, so every
// box stays visible and clickable and none covers the row of controls below the group box. More
// rows than fit at a readable height get more, narrower columns instead. Toolkit-free, so every
// window of the tool lays the boxes out alike.
#pragma once

#include <vector>

struct ModelBoxRect {
    int x = 0, y = 0, width = 0, height = 0;  // dialog units, relative to the group box's top-left
};

inline constexpr int kModelGroupWidth = 897;  // group box 1035
inline constexpr int kModelGroupHeight = 74;

// The rectangles of `count` boxes in item order (row by row), inside a group box of the given size.
std::vector<ModelBoxRect> layoutModelBoxes(int count, int groupWidth = kModelGroupWidth,
                                           int groupHeight = kModelGroupHeight);

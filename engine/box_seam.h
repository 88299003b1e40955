// The test seam of the front ends' modal boxes and file dialogs. The windows (and the start-up's
// own "already running" box) offer every box to the installed seam first: an answer means the box
// is not shown. Only test programs install one; the shipped programs have none and show every box.
#pragma once

#include <optional>
#include <string>

#include "engine/flow_ui.h"

// A message box as asked for, with its answer (IDOK, IDYES or IDNO).
struct ShownBox {
    std::string text, title;  // UTF-8
    BoxIcon icon = BoxIcon::none;
    BoxButtons buttons = BoxButtons::ok;
    int answer = IDOK;
};

class BoxSeam {
  public:
    virtual ~BoxSeam() = default;
    // An answer for `box`, which is then not shown; none: the box is shown.
    virtual std::optional<int> answer(const ShownBox& box) = 0;
    // Every box, answered here or shown, with its answer.
    virtual void record(const ShownBox& /*box*/) {}
    // The result of the next file dialog without showing it (an empty inner value: cancelled); none:
    // the dialog is shown.
    virtual std::optional<std::optional<std::string>> openFile() { return std::nullopt; }
    virtual std::optional<std::optional<std::string>> saveFile() { return std::nullopt; }
};

// Process-wide; set before any window exists and removed (null) after the last one went.
void installBoxSeam(BoxSeam* seam);
BoxSeam* installedBoxSeam();

// The seam's answer for a box (recorded when answered), or none when no seam answers it.
std::optional<int> answerWithoutShowing(ShownBox& box);
// Records a box that was shown, with the operator's answer.
void recordShownBox(const ShownBox& box);

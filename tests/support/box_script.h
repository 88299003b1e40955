// The tests' side of the windows' box seam (engine/box_seam.h): answers queued for the next
// message boxes come first, then an answerer function; a box neither answers is shown for real.
// Every box is recorded, and the next file dialogs can be given their result. Installed
// process-wide for the object's lifetime (one at a time); GUI thread only.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/box_seam.h"

namespace quenta_test {

class BoxScript : public BoxSeam {
  public:
    using Answerer = std::function<std::optional<int>(const ShownBox&)>;

    explicit BoxScript(Answerer answerer = {});
    ~BoxScript() override;
    BoxScript(const BoxScript&) = delete;
    BoxScript& operator=(const BoxScript&) = delete;

    // The next message boxes are answered with these (IDOK / IDYES / IDNO) without being shown.
    void queueAnswer(int answer) { answers_.push_back(answer); }
    void clearAnswers() { answers_.clear(); }
    // Asked for every box no queued answer takes; none: the box is shown.
    void setAnswerer(Answerer answerer) { answerer_ = std::move(answerer); }
    // The next file-open / save dialog returns this without being shown (none = cancelled).
    void setNextOpenFile(std::optional<std::string> utf8Path) { nextOpenFile_.emplace(std::move(utf8Path)); }
    void setNextSaveFile(std::optional<std::string> utf8Path) { nextSaveFile_.emplace(std::move(utf8Path)); }
    // Every box asked for, answered or shown, in order.
    const std::vector<ShownBox>& shownBoxes() const { return shown_; }
    void clearShownBoxes() { shown_.clear(); }

    std::optional<int> answer(const ShownBox& box) override;
    void record(const ShownBox& box) override { shown_.push_back(box); }
    std::optional<std::optional<std::string>> openFile() override { return take(nextOpenFile_); }
    std::optional<std::optional<std::string>> saveFile() override { return take(nextSaveFile_); }

  private:
    static std::optional<std::optional<std::string>> take(std::optional<std::optional<std::string>>& next);

    std::deque<int> answers_;
    Answerer answerer_;
    std::optional<std::optional<std::string>> nextOpenFile_, nextSaveFile_;
    std::vector<ShownBox> shown_;
};

}  // namespace quenta_test

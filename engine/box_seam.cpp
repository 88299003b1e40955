// The process-wide box seam; see box_seam.h.
#include "engine/box_seam.h"

#include <atomic>

namespace {
std::atomic<BoxSeam*> g_seam{nullptr};
}  // namespace

void installBoxSeam(BoxSeam* seam) {
    g_seam.store(seam);
}

BoxSeam* installedBoxSeam() {
    return g_seam.load();
}

std::optional<int> answerWithoutShowing(ShownBox& box) {
    BoxSeam* seam = installedBoxSeam();
    if (seam == nullptr) return std::nullopt;
    std::optional<int> answer = seam->answer(box);
    if (answer) {
        box.answer = *answer;
        seam->record(box);
    }
    return answer;
}

void recordShownBox(const ShownBox& box) {
    if (BoxSeam* seam = installedBoxSeam()) seam->record(box);
}

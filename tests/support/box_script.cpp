// BoxScript; see box_script.h.
#include "tests/support/box_script.h"

namespace quenta_test {

BoxScript::BoxScript(Answerer answerer) : answerer_(std::move(answerer)) {
    installBoxSeam(this);
}

BoxScript::~BoxScript() {
    if (installedBoxSeam() == this) installBoxSeam(nullptr);
}

std::optional<int> BoxScript::answer(const ShownBox& box) {
    if (!answers_.empty()) {
        const int next = answers_.front();
        answers_.pop_front();
        return next;
    }
    if (answerer_) return answerer_(box);
    return std::nullopt;
}

std::optional<std::optional<std::string>> BoxScript::take(std::optional<std::optional<std::string>>& next) {
    std::optional<std::optional<std::string>> given = std::move(next);
    next.reset();
    return given;
}

}  // namespace quenta_test

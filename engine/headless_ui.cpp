#include "engine/headless_ui.h"

#include <atomic>
#include <thread>

#include "engine/front_end_text.h"
#include "engine/upgrade_flow.h"
#include "ss/ss_platform.h"

HeadlessUi::HeadlessUi(std::FILE* progress) : progress_(progress) {}

void HeadlessUi::fireDueTimers() {
    if (flow_ == nullptr || timers_.empty()) return;
    std::int64_t now = ss_platform_monotonicMs();
    std::vector<std::uint32_t> due;
    for (auto& [id, timer] : timers_) {
        if (timer.dueMs > now) continue;
        timer.dueMs = now + timer.periodMs;
        due.push_back(id);
    }
    for (std::uint32_t id : due)
        if (timers_.count(id) != 0) flow_->OnTimer(id);
}

void HeadlessUi::serveUntil(const std::function<bool()>& done) {
    if (flow_ == nullptr) return;
    flow_->dispatcher().waitWhileServing([&] {
        fireDueTimers();
        return done();
    });
}

int HeadlessUi::messageBox(const std::string& utf8Text, const std::string& utf8Title, BoxIcon icon,
                           BoxButtons buttons) {
    ShownBox box{utf8Text, utf8Title, icon, buttons, asksYesNo(buttons) ? IDNO : IDOK};
    if (answer) box.answer = answer(box);
    boxes.push_back(box);
    if (progress_ != nullptr) {
        std::fprintf(progress_, "[%s] %s%s\n", utf8Title.c_str(), utf8Text.c_str(),
                     asksYesNo(buttons) ? (box.answer == IDYES ? " -> yes" : " -> no") : "");
        std::fflush(progress_);
    }
    return box.answer;
}

int HeadlessUi::runProgress(const std::string& utf8Line1, std::function<int()> task, bool /*makeCurrent*/) {
    progressBoxes.push_back(utf8Line1);
    if (progress_ != nullptr) std::fprintf(progress_, "%s\n", utf8Line1.c_str());
    std::atomic<bool> finished{false};
    int result = 0;
    std::thread worker([&] {
        result = task();
        finished = true;
    });
    std::int64_t nextHook = 0;
    auto done = [&] {
        fireDueTimers();
        if (whileProgress && !finished.load()) {
            std::int64_t now = ss_platform_monotonicMs();
            if (now >= nextHook) {
                nextHook = now + 10;
                whileProgress(utf8Line1);
            }
        }
        return finished.load();
    };
    if (flow_ != nullptr) {
        flow_->dispatcher().waitWhileServing(done);
    } else {
        while (!finished.load()) ss_platform_sleepMs(5);
    }
    worker.join();
    return result;
}

void HeadlessUi::progressSearch(const std::optional<std::string>& utf8Address, int count) {
    ++searchReports;
    if (count > 0) lastSearchCount = count;
    if (progress_ == nullptr) return;
    // One line: what the box's two lines would show of this report.
    std::string line = count > 0 ? flowtext::progressFound(count) : std::string();
    if (utf8Address) line += (count > 0 ? "  " : "") + flowtext::progressConnecting(*utf8Address);
    std::fprintf(progress_, "%s\n", line.c_str());
}

void HeadlessUi::progressFailed(int total, int done) {
    ++failedReports;
    if (progress_ != nullptr) std::fprintf(progress_, "%s\n", flowtext::progressFailed(total, done).c_str());
}

std::optional<std::string> HeadlessUi::chooseOpenFile(const FileFilters&) {
    std::optional<std::string> path = std::move(nextOpenFile);
    nextOpenFile.reset();
    return path;
}

std::optional<std::string> HeadlessUi::chooseSaveFile(const FileFilters&) {
    std::optional<std::string> path = std::move(nextSaveFile);
    nextSaveFile.reset();
    return path;
}

void HeadlessUi::stateChanged(unsigned) {}

void HeadlessUi::startTimer(std::uint32_t id, int ms) {
    timers_[id] = Timer{ms, ss_platform_monotonicMs() + ms};
    if (static_cast<int>(timers_.size()) > maxTimersRunning)
        maxTimersRunning = static_cast<int>(timers_.size());
}

void HeadlessUi::stopTimer(std::uint32_t id) {
    timers_.erase(id);
}

void HeadlessUi::closeWindow() {
    closeRequested = true;
}

std::optional<ShownBox> HeadlessUi::errorSince(size_t from) const {
    std::optional<ShownBox> found;
    for (size_t i = from; i < boxes.size(); ++i)
        if (boxes[i].icon == BoxIcon::stop) found = boxes[i];
    return found;
}

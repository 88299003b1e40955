// WindowFlowUi; see window_flow_ui.h.
#include "engine/window_flow_ui.h"

#include "engine/upgrade_flow.h"

bool WindowFlowUi::endFlow(UpgradeFlow& flow) {
    if (flowEnded_) return false;
    flowEnded_ = true;
    flow.OnDestroy();
    return true;
}

int WindowFlowUi::messageBox(const std::string& utf8Text, const std::string& utf8Title, BoxIcon icon,
                             BoxButtons buttons) {
    ShownBox box{utf8Text, utf8Title, icon, buttons, IDOK};
    beforeMessageBox();
    if (answerWithoutShowing(box)) return box.answer;
    {
        ModalScope scope(*this);
        box.answer = showMessageBox(box);
    }
    recordShownBox(box);
    return box.answer;
}

std::optional<std::string> WindowFlowUi::chooseOpenFile(const FileFilters& filters) {
    if (BoxSeam* seam = installedBoxSeam()) {
        if (std::optional<std::optional<std::string>> given = seam->openFile()) return *given;
    }
    ModalScope scope(*this);
    return showOpenFile(filters);
}

std::optional<std::string> WindowFlowUi::chooseSaveFile(const FileFilters& filters) {
    if (BoxSeam* seam = installedBoxSeam()) {
        if (std::optional<std::optional<std::string>> given = seam->saveFile()) return *given;
    }
    std::size_t chosen = 0;
    std::optional<std::string> path;
    {
        ModalScope scope(*this);
        path = showSaveFile(filters, chosen);
    }
    if (!path) return std::nullopt;
    return pathWithChosenExtension(*path, filters, chosen);
}

// WindowFlowUi: what the two windows' FlowUi share. Every message box and file dialog goes to the
// test seam first (engine/box_seam.h) and is recorded there; only what the seam leaves is shown by
// the window (showMessageBox, showOpenFile, showSaveFile). It counts the modal boxes open right now
// and applies the chosen filter's extension to a saved file's path.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "engine/box_seam.h"
#include "engine/flow_ui.h"

class UpgradeFlow;

class WindowFlowUi : public FlowUi {
  public:
    int messageBox(const std::string& utf8Text, const std::string& utf8Title, BoxIcon icon,
                   BoxButtons buttons) final;
    std::optional<std::string> chooseOpenFile(const FileFilters& filters) final;
    std::optional<std::string> chooseSaveFile(const FileFilters& filters) final;

    // Number of modal boxes (message boxes, progress boxes, file dialogs, the about box) open now.
    int modalDepth() const { return modalDepth_; }

    // Ends the window's flow (UpgradeFlow::OnDestroy: clears the upgrading flag, closes the
    // dispatcher, joins the engine threads) once, whichever asks first: the flow's closeWindow or
    // the window's own end. True that first time (closeWindow then ends the modal loop).
    bool endFlow(UpgradeFlow& flow);
    bool flowEnded() const { return flowEnded_; }

    // Counts a modal box for the time it is open.
    class ModalScope {
      public:
        explicit ModalScope(WindowFlowUi& ui) : depth_(ui.modalDepth_) { ++depth_; }
        ~ModalScope() { --depth_; }
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;

      private:
        int& depth_;
    };

  protected:
    // Called before every message box, shown or answered by the seam (a front end hides what
    // must not stay under the box).
    virtual void beforeMessageBox() {}
    // The real box; returns IDOK, IDYES or IDNO (counted as modal by the caller).
    virtual int showMessageBox(const ShownBox& box) = 0;
    // The real dialogs; none when cancelled. `chosen`: the index of the filter the operator chose.
    virtual std::optional<std::string> showOpenFile(const FileFilters& filters) = 0;
    virtual std::optional<std::string> showSaveFile(const FileFilters& filters, std::size_t& chosen) = 0;

  private:
    int modalDepth_ = 0;
    bool flowEnded_ = false;
};

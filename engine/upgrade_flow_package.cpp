// UpgradeFlow: loading a package, its model boxes, the batch / single-IP mode and the IP fields.
#include "engine/upgrade_flow.h"

#include "engine/device_list.h"
#include "engine/model_box_layout.h"
#include "engine/upgrade_flow_internal.h"
#include "package/package_info.h"
#include "package/package_load.h"
#include "protocol/ss_pair.h"

using namespace upgrade_flow_internal;

void UpgradeFlow::loadPackage() {
    std::optional<std::string> path = ui_.chooseOpenFile(packageFileFilters());
    if (!path) return;
    loadPackageFile(*path);
}

int UpgradeFlow::loadPackageFile(const std::string& utf8Path) {
    if (!packageExtensionIsQuenta(utf8Path) &&
        ui_.messageBox(kPackageExtensionWarning, kPackageWarningTitle, BoxIcon::exclamation,
                       BoxButtons::yesNo) != IDYES)
        return -1;
    if (utf8Path == state_.text(IDC_PATH_BOX)) return -1;  // the same package is not loaded twice
    if (refuseWhileRunning()) return -1;
    std::string message;
    if (packagePrecheck(utf8Path, message) != 0) {
        showError(message);
        return -1;
    }
    // A file that is not a package leaves the loaded package, its model boxes and the list as they were.
    auto loaded = std::make_unique<LoadedPackage>();
    if (packageRead(utf8Path, *loaded, message) != 0) {
        showError(message);
        return -1;
    }
    state_.modelBoxes.clear();
    OnBnClickedButtonClear();
    package_ = std::move(loaded);
    state_.setText(IDC_PACKAGE_LABEL, packageVersionLabel(*package_));
    state_.setText(IDC_PATH_BOX, utf8Path);
    notify(kChangedPackage);

    batchAllowed_ = !applyPackageKindRules(*package_);
    if (!batchAllowed_) {
        rebuildModelBoxes();
        ui_.messageBox(kMultimediaFilePackageNotice, flowtext::kNoticeTitle, BoxIcon::none, BoxButtons::ok);
        setMode(false);
    } else {
        setMode(true);
        rebuildModelBoxes();
    }
    notify(kChangedControls | kTickedModelBoxes);
    return 0;
}

void UpgradeFlow::rebuildModelBoxes() {
    state_.modelBoxes.clear();
    state_.setChecked(IDC_MODELS_ALL, true);
    if (package_) {
        std::vector<std::string> items = splitString(package_->modelList.c_str(), ",");
        const std::vector<ModelBoxRect> places = layoutModelBoxes(static_cast<int>(items.size()));
        for (size_t index = 0; index < items.size(); ++index) {
            ModelBox box;
            box.id = kFirstModelBoxId + static_cast<int>(index);
            box.narrowLabel = items[index];
            box.utf8Label = utf8(items[index]);
            box.checked = true;
            box.enabled = items.size() != 1;  // a single model can never be unticked
            box.x = places[index].x;
            box.y = places[index].y;
            box.width = places[index].width;
            box.height = places[index].height;
            state_.modelBoxes.push_back(std::move(box));
        }
    }
    notify(kRebuiltModelBoxes | kChangedControls);
}

void UpgradeFlow::clickModelBox(int id) {
    ModelBox* box = state_.modelBox(id);
    if (box == nullptr || !box->enabled) return;
    box->checked = !box->checked;
    notify(kTickedModelBoxes);
}

void UpgradeFlow::OnBnClickedCheckModelsAll() {
    if (state_.modelBoxes.size() < 2) return;
    for (auto& box : state_.modelBoxes) box.checked = state_.checked(IDC_MODELS_ALL);
    notify(kTickedModelBoxes);
}

void UpgradeFlow::setMode(bool batch) {
    state_.setChecked(IDC_RADIO_BATCH, batch);
    state_.setChecked(IDC_RADIO_SINGLE, !batch);
    applyStep(modeStep());
    notify(kChangedControls);
}

bool UpgradeFlow::refuseWhileRunning() {
    if (!runActive()) return false;
    notify(kChangedControls);  // a front end that let the edit through shows the state again
    return true;
}

void UpgradeFlow::OnBnClickedRadioBatch() {
    if (refuseWhileRunning()) return;
    if (state_.checked(IDC_RADIO_SINGLE)) list_->DeleteAllRows();
    setMode(true);
}

void UpgradeFlow::OnBnClickedRadioSingle() {
    if (refuseWhileRunning()) return;
    if (state_.checked(IDC_RADIO_BATCH)) list_->DeleteAllRows();
    setMode(false);
}

void UpgradeFlow::setAddressBoxIp(const std::string& dotted) {
    std::string text = dotted.empty() ? std::string(kBlankIp) : dotted;
    if (text == state_.addressBoxIp) return;
    if (refuseWhileRunning()) return;  // the field shows the run's address box again
    // The change would clear the list: a run's results are not thrown away without a question. "否"
    // puts the field back.
    if (listHoldsRunResults() && !confirm(flowtext::kConfirmClearResults)) {
        notify(kChangedControls);
        return;
    }
    state_.addressBoxIp = text;
    OnIpFieldChangedAddressBox();
    notify(kChangedControls);
}

void UpgradeFlow::OnIpFieldChangedAddressBox() {
    if (runActive()) return;
    list_->DeleteAllRows();
}

void UpgradeFlow::setSingleIp(const std::string& dotted) {
    if (refuseWhileRunning()) return;
    state_.singleIp = dotted.empty() ? std::string(kBlankIp) : dotted;
    notify(kChangedControls);
}

#include "engine/dialog_state.h"

#include <cstdlib>

namespace {
constexpr EnableRule on = EnableRule::on;
constexpr EnableRule off = EnableRule::off;
constexpr EnableRule keep = EnableRule::unchanged;

struct InitialControl {
    int id;
    const char* text;
};
// Captions of the fixed controls, as the window shows them.
const InitialControl kInitialControls[] = {
    {IDC_UPGRADE, "升级"},
    {IDC_EXIT, "退出"},
    {IDC_QUERY, " 获取设备列表"},
    {IDC_SELECT_ALL, "选取全部可升级设备"},
    {IDC_MODELS_ALL, " 全选"},
    {IDC_PATH_BOX, ""},
    {IDC_BROWSE, "浏览"},
    {IDC_ADD, "添加"},
    {IDC_ADDRESS_BOX_IP, ""},
    {IDC_SINGLE_IP, ""},
    {IDC_PACKAGE_LABEL, "适用于以下产品型号"},
    {IDC_VERSION_DIFF, "选取与升级包版本不一致的设备"},
    {IDC_CLEAR, "  清空列表"},
    {IDC_SHOW_FAILED, "显示连接失败的设备"},
    {IDC_VERIFY, "升级后验证版本"},
    {IDC_STAGES, "分批升级（每个型号先升级一台）"},
    {IDC_RADIO_SINGLE, "指定IP升级"},
    {IDC_RADIO_BATCH, "批量升级"},
    {IDC_MODEL_GROUP, ""},
};
}  // namespace

const std::vector<EnablingRow>& enablingTable() {
    // Columns: afterInit, batchMode, singleMode, singleOnly | querying, queried, offered, pressed,
    // running, cancelling, cancelled, runEnded.
    static const std::vector<EnablingRow> table = {
        {IDC_UPGRADE, {off, keep, keep, keep, off, on, on, off, on, off, keep, on}},
        // After a run " 获取设备列表" is on even in single-IP mode, as the window always had it.
        {IDC_QUERY, {off, on, off, off, off, on, keep, keep, off, keep, keep, on}},
        {IDC_SELECT_ALL, {off, on, off, off, keep, keep, keep, keep, keep, keep, keep, keep}},
        {IDC_VERSION_DIFF, {off, on, off, off, keep, keep, keep, keep, keep, keep, keep, keep}},
        {IDC_SHOW_FAILED, {off, on, off, off, keep, keep, keep, keep, keep, keep, keep, keep}},
        // Off while a run owns the list: their edits clear it (or rewrite a row) under the run's jobs.
        // At the run's end the mode's column gives them back.
        {IDC_SINGLE_IP, {off, off, on, on, keep, keep, keep, keep, off, keep, keep, keep}},
        {IDC_ADD, {off, off, on, on, keep, keep, keep, keep, off, keep, keep, keep}},
        {IDC_RADIO_BATCH, {off, on, on, off, keep, keep, keep, keep, off, keep, keep, keep}},
        {IDC_RADIO_SINGLE, {off, on, on, on, keep, keep, keep, keep, off, keep, keep, keep}},
        {IDC_ADDRESS_BOX_IP, {on, on, on, on, keep, keep, keep, keep, off, keep, keep, keep}},
        // "浏览" comes back only with the run's end.
        {IDC_BROWSE, {on, on, on, on, keep, keep, keep, keep, off, keep, keep, on}},
        {IDC_EXIT, {on, on, on, on, keep, keep, keep, keep, off, keep, on, on}},
        {IDC_CLEAR, {on, on, on, on, keep, keep, keep, keep, off, keep, keep, on}},
        // Read when a run starts: off while one runs.
        {IDC_STAGES, {on, on, on, on, keep, keep, keep, keep, off, keep, keep, on}},
    };
    return table;
}

DialogState::DialogState() {
    for (const auto& initial : kInitialControls) controls_[initial.id].text = initial.text;
    controls_[IDC_VERIFY].checked = true;  // verification is on unless the operator turns it off
    controls_[IDC_STAGES].checked = true;  // runs go in stages unless the operator turns it off
}

ControlState& DialogState::control(int id) {
    return controls_[id];
}

const ControlState& DialogState::control(int id) const {
    auto found = controls_.find(id);
    if (found == controls_.end()) std::abort();  // an id the window does not have
    return found->second;
}

void DialogState::applyEnabling(EnablingStep step) {
    for (const auto& row : enablingTable()) {
        EnableRule rule = row.rules[static_cast<int>(step)];
        if (rule == EnableRule::unchanged) continue;
        control(row.controlId).enabled = rule == EnableRule::on;
    }
}

ModelBox* DialogState::modelBox(int id) {
    for (auto& box : modelBoxes)
        if (box.id == id) return &box;
    return nullptr;
}

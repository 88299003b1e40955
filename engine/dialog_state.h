// The main window's controls as data, so the batch flow runs without a toolkit: per control id its
// enabled / checked state and text, the two IP texts, the path box and package label, the model
// check boxes, and the enabling table of the window per flow state. Used on the flow thread only;
// a front end mirrors it into real widgets on FlowUi::stateChanged.
#pragma once

#include <map>
#include <string>
#include <vector>

// Control ids of the main window.
enum DialogControlId : int {
    IDC_UPGRADE = 1,            // "升级" / "取消" (IDOK)
    IDC_EXIT = 2,               // "退出" (IDCANCEL)
    IDC_QUERY = 1009,           // " 获取设备列表"
    IDC_SELECT_ALL = 1011,      // "选取全部可升级设备"
    IDC_MODELS_ALL = 1012,      // " 全选"
    IDC_PATH_BOX = 1014,        // path box (read-only edit)
    IDC_BROWSE = 1015,          // "浏览"
    IDC_ADD = 1016,             // "添加"
    IDC_ADDRESS_BOX_IP = 1021,  // address box IP control
    IDC_SINGLE_IP = 1023,       // single device IP control
    IDC_PACKAGE_LABEL = 1027,   // package label
    IDC_VERSION_DIFF = 1028,    // "选取与升级包版本不一致的设备"
    IDC_CLEAR = 1029,           // "  清空列表"
    IDC_SHOW_FAILED = 1030,     // "显示连接失败的设备"
    IDC_RADIO_SINGLE = 1033,    // "指定IP升级"
    IDC_RADIO_BATCH = 1034,     // "批量升级"
    IDC_MODEL_GROUP = 1035,     // group box of the model check boxes
    IDC_VERIFY = 1040,  // "升级后验证版本": verify the version after the reboot (ticked at start)
    IDC_STAGES = 1041,  // "分批升级（每个型号先升级一台）": first devices, cap and brake (ticked at start)
};
inline constexpr int kFirstModelBoxId = 4368;
// The about box's command (no control of the window carries it: the banner and the menus do).
inline constexpr int kAboutCommand = 1026;
inline constexpr char kBlankIp[] = "0.0.0.0";  // the text of an empty IP address control

struct ControlState {
    bool enabled = true;
    bool checked = false;
    std::string text;  // UTF-8 caption or content
};

struct ModelBox {
    int id = 0;               // kFirstModelBoxId + item index
    std::string narrowLabel;  // GBK model name (what the query's account text is made of)
    std::string utf8Label;    // the same for display
    bool checked = true;
    bool enabled = true;
    // Layout inside group box 1035, in dialog units relative to the box's top-left corner
    // (layoutModelBoxes).
    int x = 0, y = 0, width = 0, height = 0;
};

// Where the flow is. The engine's own flag (FlowHost::upgrading) is set exactly in `running`.
enum class FlowPhase {
    idle,
    querying,        // " 获取设备列表" past its checks, until its version prompt
    running,         // from "升级" past its checks until the run's end or "取消"
    cancelling,      // after "取消" (or a close) until the run has sent its end
    restartPending,  // cancelling, and "升级" was pressed again: the next run starts after the end
};

// The moments that change which controls are enabled: the mode, and the steps of the phases.
enum class EnablingStep {
    afterInit,   // OnInitDialog: no package yet
    batchMode,   // batch mode (a load of any kind but a multimedia file package, or radio 1034)
    singleMode,  // single-IP mode, batch mode still allowed (radio 1033)
    singleOnly,  // single-IP mode of a multimedia file package: radio 1034 off
    querying,    // the query passed its checks
    queried,     // the query's list is in
    offered,     // "添加" ran, or "升级" was pressed and started nothing
    pressed,     // "升级" / "取消" pressed, until the press is handled
    running,     // a run started (caption "取消")
    cancelling,  // "取消": the cancel waits for running transfers
    cancelled,   // the cancel's wait returned; the run may still be ending
    runEnded,    // the run sent its end (applied after the mode's column)
    count
};
enum class EnableRule { on, off, unchanged };
struct EnablingRow {
    int controlId;
    EnableRule rules[static_cast<int>(EnablingStep::count)];  // indexed by EnablingStep
};
// The one place that says which control is enabled when: one row per control it names (other
// controls are always enabled), one column per step. "unchanged" keeps what an earlier step set.
const std::vector<EnablingRow>& enablingTable();

class DialogState {
  public:
    DialogState();

    ControlState& control(int id);
    const ControlState& control(int id) const;
    bool enabled(int id) const { return control(id).enabled; }
    bool checked(int id) const { return control(id).checked; }
    const std::string& text(int id) const { return control(id).text; }
    void setEnabled(int id, bool on) { control(id).enabled = on; }
    void setChecked(int id, bool on) { control(id).checked = on; }
    void setText(int id, const std::string& utf8) { control(id).text = utf8; }

    // Applies one column of the enabling table (rules "unchanged" leave the control alone).
    void applyEnabling(EnablingStep step);

    // IP address controls 1021 and 1023: dotted text, kBlankIp when empty.
    std::string addressBoxIp = kBlankIp;
    std::string singleIp = kBlankIp;

    std::vector<ModelBox> modelBoxes;
    ModelBox* modelBox(int id);

  private:
    std::map<int, ControlState> controls_;
};

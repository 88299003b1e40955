// Cquenta_upgradeDlg: the tool's only window (dialog resource 102, "产品升级工具"), a thin Qt front
// end over the toolkit-free batch flow (UpgradeFlow). It lays out every control at its dialog-unit
// position, mirrors the flow's dialog state (enabled / checked / texts, model check boxes) into the
// widgets, routes every click to the flow's one entry point (UpgradeFlow::click), and serves the flow's
// dispatcher on the GUI thread: the dispatcher's wake-up hook posts a queued drain, so engine threads are
// served also while a message box or the progress box is open. Enter and Escape are swallowed; the close box
// acts as "退出". The window owns the flow, which owns the device list, the upgrade server and the package.
#pragma once

#include <QDialog>
#include <QFont>
#include <QPointer>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "engine/flow_ui.h"
#include "engine/flow_wake.h"
#include "ui/dialog_units.h"

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QScreen;
class QTimer;
class IpAddressEdit;
class QtFlowUi;
class UpgradeFlow;

class Cquenta_upgradeDlg : public QDialog {
    Q_OBJECT
  public:
    // screen: where the window opens (null: the primary screen); the dialog's base units are chosen
    // so that the whole window fits that screen's available area (fitDialogToArea).
    explicit Cquenta_upgradeDlg(QWidget* parent = nullptr, QScreen* screen = nullptr);
    ~Cquenta_upgradeDlg() override;  // OnDestroy (stops and joins every engine thread) when not done yet

    UpgradeFlow& flow() { return *flow_; }
    QtFlowUi& flowUi() { return *flowUi_; }
    // False when the upgrade server could not start (the window closed itself after the message).
    bool initialised() const { return initialised_; }
    bool closedByFlow() const { return closedByFlow_; }

    // The widget of a control id of resource 102 (model boxes included), or null.
    QWidget* control(int id) const;
    QWidget* deviceListWidget() const { return list_; }
    IpAddressEdit* addressBoxIp() const { return addressBoxIp_; }
    IpAddressEdit* singleIp() const { return singleIp_; }
    const DialogUnits& units() const { return units_; }
    double unitsFactor() const { return unitsFactor_; }  // 1: the dialog font's own units fit the screen
    // The model check boxes in id order.
    std::vector<QCheckBox*> modelBoxes() const;

    void OnInitDialog();
    void OnIpFieldChangedAddressBox();  // 1021 field edited
    void OnAbout();                     // command 1026: the about box
    // The device list's context menu (engine/list_menu.h). The window shows it at a right click in
    // the list.
    QMenu* buildListMenu(QWidget* parent);

    // Mirrors the flow's state into the widgets (FlowStateChange bits). The model boxes are built
    // again only on kRebuiltModelBoxes (or when their number differs).
    void syncFromState(unsigned what = kChangedControls | kTickedModelBoxes | kChangedPackage);

    // The status line (全部 and a count per status, each a link that filters the list), the run line
    // and the search field, in the bottom row between "  清空列表" and "升级".
    QLabel* statusLine() const { return statusLine_; }
    QLabel* runLine() const { return runLine_; }
    QLineEdit* searchField() const { return search_; }
    // Repaints the status and run lines now (they are otherwise repainted at most every 200 ms).
    void refreshGlance();
    // A click on a count: shows only the rows of that status; -1 (全部) shows every row again.
    void showStatus(int code);

    // Closes the window as "退出" would (used for a termination request); retried while a modal box
    // of the flow is open.
    void requestClose();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void reject() override;  // IDCANCEL -> OnBnClickedCancel

  private:
    void buildControls();
    void rebuildModelBoxes();
    void buildGlance();
    void scheduleGlance();
    void applyRowVisibility(int first, int last);
    void routeClick(int id);
    void pressExit();  // "退出" and the close box: cancels a run first, then closes
    void closeForFlow();
    QAbstractButton* addButton(int id, int x, int y, int w, int h, bool checkBox, bool radio);
    QLabel* addStatic(const QString& text, int x, int y, int w, int h, Qt::Alignment alignment);

    DialogUnits units_;
    double unitsFactor_ = 1.0;
    QFont dialogFont_;
    QFont modelBoxFont_;  // "Courier New" 8 pt
    std::unique_ptr<UpgradeFlow> flow_;
    QtFlowUi* flowUi_ = nullptr;  // child QObject
    std::unique_ptr<FlowWake> wake_;
    std::map<int, QWidget*> controls_;       // children, by control id
    std::map<int, QCheckBox*> modelBoxes_;   // children, by id (4368 + item index)
    QWidget* list_ = nullptr;                // 1001
    IpAddressEdit* addressBoxIp_ = nullptr;  // 1021
    IpAddressEdit* singleIp_ = nullptr;      // 1023
    QLineEdit* pathBox_ = nullptr;           // 1014
    QLabel* packageLabel_ = nullptr;         // 1027
    QLabel* banner_ = nullptr;               // bitmap 137, click: about box
    QLabel* statusLine_ = nullptr;           // counts per status, as links
    QLabel* runLine_ = nullptr;              // "已完成 x/N，…" during a run
    QLineEdit* search_ = nullptr;            // IP or serial number
    QTimer* glanceTimer_ = nullptr;          // coalesces repaints of the two lines
    bool initialised_ = false;
    bool closedByFlow_ = false;
    bool syncing_ = false;
};

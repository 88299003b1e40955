// CReportCtrl: the device list control of the main window.
//
// A QTableView over a DeviceList (through DeviceListModel), with a check box in column 0, per-cell
// text and background colours, the status cell drawn as a progress bar while a package is sent
// (ProgressCellDelegate), header clicks that sort through DeviceList, and the list's own check-box
// rules: a click on a box goes through DeviceList::ClickCheck (a locked row flips back, an unlocked
// row becomes the only selected row), the space bar never changes a box. Columns 0 and 1 cannot be
// resized. Selection and focus are kept in step with the DeviceList in both directions.
//
// GUI thread only: engine threads hand their changes to the flow's dispatcher, which runs them here.
#pragma once

#include <QTableView>
#include <memory>
#include <optional>
#include <string>

#include "engine/device_list.h"

class DeviceListModel;
class ProgressCellDelegate;

class CReportCtrl : public QTableView {
    Q_OBJECT
  public:
    // A control with a list of its own.
    explicit CReportCtrl(QWidget* parent = nullptr);
    // A view of a list that outlives the control (the flow's list).
    explicit CReportCtrl(DeviceList& list, QWidget* parent = nullptr);
    ~CReportCtrl() override;

    DeviceList& list() const { return list_; }
    DeviceListModel* listModel() const { return model_; }

    // The list operations that involve the view; everything else is called on list() directly.
    bool DefineColumns(const std::string& description) { return list_.DefineColumns(description); }
    void EnableChecks() { list_.EnableChecks(); }
    // Sorts unless the header is hidden or not clickable.
    void SortByColumn(int column, bool ascending);

    // Where row's check box is drawn (viewport coordinates); empty when the row has none.
    QRect checkBoxRect(int row) const;
    // The QLocale-based date parser the control installs for the comparison's date rule.
    static std::optional<int64_t> parseLocaleDate(std::string_view utf8);

  signals:
    void checkChanged(int row, CheckClick click);  // a check box changed by a mouse click
    void sorted(int column, bool ascending);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void setUp();
    void applyColumns();
    void showSortArrow();
    bool handleCheckClick(QMouseEvent* event, bool doubleClick);
    void pushSelectionToView();    // list -> view
    void pullSelectionFromView();  // view -> list

    std::unique_ptr<DeviceList> ownList_;  // set only when the control owns its list
    DeviceList& list_;
    DeviceListModel* model_ = nullptr;          // child QObject
    ProgressCellDelegate* delegate_ = nullptr;  // child QObject
    bool syncingSelection_ = false;             // guard against echoing a selection change back
};

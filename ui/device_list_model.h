// DeviceListModel: the Qt item model over a DeviceList.
//
// A thin adapter: every answer comes from the DeviceList, and every change notice of the list becomes
// the smallest Qt model signal that describes it (one cell's dataChanged for a check or a progress
// step, a row range for colours, layoutAboutToBeChanged/layoutChanged around a sort with the
// persistent indexes moved). Used on the GUI thread only, like the list itself.
#pragma once

#include <QAbstractTableModel>
#include <QModelIndexList>
#include <functional>

#include "engine/device_list.h"

class DeviceListModel : public QAbstractTableModel, private DeviceListObserver {
    Q_OBJECT
  public:
    // Role answering the percent of a cell drawn as a progress bar (absent when not in use).
    static constexpr int ProgressRole = Qt::UserRole + 1;

    // The list is not owned and must outlive the model.
    explicit DeviceListModel(DeviceList& list, QObject* parent = nullptr);
    ~DeviceListModel() override;

    DeviceList& list() const { return list_; }
    // Tool tips of cells (the status cell's reason); empty text: none.
    void setToolTipProvider(std::function<QString(int row, int column)> provider) {
        toolTips_ = std::move(provider);
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A check-state change goes through DeviceList::ClickCheck, so a locked row refuses it.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // 0x00BBGGRR -> QColor; -1 gives an invalid colour (the palette's default).
    static QColor toQColor(int32_t colorRef);

  signals:
    void checkClicked(int row, CheckClick click);  // the check-change notification
    void listSorted(int column, bool ascending);
    void listSelectionChanged();  // selection or focus changed through the list, not the view
    void listRedrawChanged(bool on);

  private:
    void listAboutToBeReset() override;
    void listReset() override;
    void rowsAboutToBeInserted(int first, int last) override;
    void rowsInserted(int first, int last) override;
    void rowsAboutToBeRemoved(int first, int last) override;
    void rowsRemoved(int first, int last) override;
    void cellsChanged(int row, int firstColumn, int lastColumn) override;
    void colorsChanged(int firstRow, int lastRow, bool text, bool background) override;
    void progressChanged(int row, int column) override;
    void selectionChanged() override;
    void rowsAboutToBeSorted() override;
    void rowsSorted(int column, bool ascending, const std::vector<int>& newToOld) override;
    void checkChanged(int row, CheckClick click) override;
    void redrawChanged(bool on) override;

    void assertGuiThread() const;

    DeviceList& list_;
    QModelIndexList sortPersistent_;
    std::function<QString(int, int)> toolTips_;  // persistent indexes saved between the two sort notices
};

// DeviceListModel; see device_list_model.h.
#include "ui/device_list_model.h"

#include <QBrush>
#include <QColor>
#include <QThread>

DeviceListModel::DeviceListModel(DeviceList& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list) {
    assertGuiThread();
    list_.AddObserver(this);
}

DeviceListModel::~DeviceListModel() {
    list_.RemoveObserver(this);
}

void DeviceListModel::assertGuiThread() const {
    Q_ASSERT_X(QThread::currentThread() == thread(), "DeviceListModel", "used off the GUI thread");
}

QColor DeviceListModel::toQColor(int32_t colorRef) {
    if (colorRef == DEVICE_LIST_DEFAULT_COLOR) return QColor();
    const auto value = static_cast<uint32_t>(colorRef);
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

int DeviceListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : list_.RowCount();
}

int DeviceListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : list_.ColumnCount();
}

QVariant DeviceListModel::data(const QModelIndex& index, int role) const {
    assertGuiThread();
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) return {};
    const int row = index.row(), column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(list_.GetItemText(row, column));
        case Qt::CheckStateRole:
            if (column == 0 && list_.ChecksEnabled())
                return list_.GetCheck(row) ? Qt::Checked : Qt::Unchecked;
            return {};
        case Qt::ForegroundRole: {
            const QColor color = toQColor(list_.GetCellTextColor(row, column));
            return color.isValid() ? QVariant(QBrush(color)) : QVariant();
        }
        case Qt::BackgroundRole: {
            const QColor color = toQColor(list_.GetCellBackColor(row, column));
            return color.isValid() ? QVariant(QBrush(color)) : QVariant();
        }
        case Qt::TextAlignmentRole: {
            const ListColumn* c = list_.Column(column);
            const Qt::Alignment horizontal = !c || c->alignment == COLUMN_ALIGN_LEFT ? Qt::AlignLeft
                                             : c->alignment == COLUMN_ALIGN_RIGHT    ? Qt::AlignRight
                                                                                     : Qt::AlignHCenter;
            return QVariant::fromValue(horizontal | Qt::AlignVCenter);
        }
        case Qt::ToolTipRole: {
            if (!toolTips_) return {};
            const QString tip = toolTips_(row, column);
            return tip.isEmpty() ? QVariant() : QVariant(tip);
        }
        case ProgressRole: {
            const PROGRESS_DATA* p = list_.CellProgress(row, column);
            return p && p->inUse ? QVariant(p->percent) : QVariant();
        }
        default:
            return {};
    }
}

QVariant DeviceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return QAbstractTableModel::headerData(section, orientation, role);
    const ListColumn* c = list_.Column(section);
    if (c == nullptr) return {};
    if (role == Qt::DisplayRole) return QString::fromStdString(c->heading);
    if (role == Qt::TextAlignmentRole) {
        const Qt::Alignment horizontal = c->alignment == COLUMN_ALIGN_LEFT    ? Qt::AlignLeft
                                         : c->alignment == COLUMN_ALIGN_RIGHT ? Qt::AlignRight
                                                                              : Qt::AlignHCenter;
        return QVariant::fromValue(horizontal | Qt::AlignVCenter);
    }
    return {};
}

Qt::ItemFlags DeviceListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == 0 && list_.ChecksEnabled()) f |= Qt::ItemIsUserCheckable;
    return f;
}

bool DeviceListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    assertGuiThread();
    if (role != Qt::CheckStateRole || !checkIndex(index, CheckIndexOption::IndexIsValid) ||
        index.column() != 0 || !list_.ChecksEnabled())
        return false;
    const bool wanted = value.value<Qt::CheckState>() == Qt::Checked;
    if (wanted == list_.GetCheck(index.row())) return true;
    return list_.ClickCheck(index.row()) == 1;
}

// ---- list notices -> model signals --------------------------------------------------------------

void DeviceListModel::listAboutToBeReset() {
    assertGuiThread();
    beginResetModel();
}

void DeviceListModel::listReset() {
    endResetModel();
}

void DeviceListModel::rowsAboutToBeInserted(int first, int last) {
    assertGuiThread();
    beginInsertRows(QModelIndex(), first, last);
}

void DeviceListModel::rowsInserted(int, int) {
    endInsertRows();
}

void DeviceListModel::rowsAboutToBeRemoved(int first, int last) {
    assertGuiThread();
    beginRemoveRows(QModelIndex(), first, last);
}

void DeviceListModel::rowsRemoved(int, int) {
    endRemoveRows();
}

void DeviceListModel::cellsChanged(int row, int firstColumn, int lastColumn) {
    assertGuiThread();
    QList<int> roles{Qt::DisplayRole};
    if (firstColumn == 0) roles.append(Qt::CheckStateRole);
    emit dataChanged(index(row, firstColumn), index(row, lastColumn), roles);
}

void DeviceListModel::colorsChanged(int firstRow, int lastRow, bool text, bool background) {
    assertGuiThread();
    if (list_.ColumnCount() == 0) return;
    QList<int> roles;
    if (text) roles.append(Qt::ForegroundRole);
    if (background) roles.append(Qt::BackgroundRole);
    emit dataChanged(index(firstRow, 0), index(lastRow, list_.ColumnCount() - 1), roles);
}

void DeviceListModel::progressChanged(int row, int column) {
    assertGuiThread();
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {ProgressRole});
}

void DeviceListModel::selectionChanged() {
    emit listSelectionChanged();
}

void DeviceListModel::rowsAboutToBeSorted() {
    assertGuiThread();
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    sortPersistent_ = persistentIndexList();
}

void DeviceListModel::rowsSorted(int column, bool ascending, const std::vector<int>& newToOld) {
    std::vector<int> oldToNew(newToOld.size());
    for (size_t n = 0; n < newToOld.size(); ++n) oldToNew[newToOld[n]] = static_cast<int>(n);
    QModelIndexList moved;
    moved.reserve(sortPersistent_.size());
    for (const QModelIndex& old : sortPersistent_) {
        const bool inside = old.isValid() && old.row() < static_cast<int>(oldToNew.size());
        moved.append(inside ? index(oldToNew[old.row()], old.column()) : QModelIndex());
    }
    changePersistentIndexList(sortPersistent_, moved);
    sortPersistent_.clear();
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    emit listSorted(column, ascending);
}

void DeviceListModel::checkChanged(int row, CheckClick click) {
    emit checkClicked(row, click);
}

void DeviceListModel::redrawChanged(bool on) {
    emit listRedrawChanged(on);
}

// CReportCtrl; see CReportCtrl.h.
#include "ui/CReportCtrl.h"

#include <QDateTime>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QThread>

#include "ui/device_list_model.h"
#include "ui/progress_cell_delegate.h"

CReportCtrl::CReportCtrl(QWidget* parent)
    : QTableView(parent), ownList_(std::make_unique<DeviceList>()), list_(*ownList_) {
    setUp();
}

CReportCtrl::CReportCtrl(DeviceList& list, QWidget* parent) : QTableView(parent), list_(list) {
    setUp();
}

CReportCtrl::~CReportCtrl() {
    // The model unregisters from the list in its destructor; destroy it while the list still exists,
    // and stop the selection sync first so nothing is written back into the list meanwhile.
    syncingSelection_ = true;
    disconnect(selectionModel(), nullptr, this, nullptr);
    setModel(nullptr);
    delete model_;
    model_ = nullptr;
}

void CReportCtrl::setUp() {
    Q_ASSERT_X(QThread::currentThread() == thread(), "CReportCtrl", "created off the GUI thread");
    list_.SetDateParser(&CReportCtrl::parseLocaleDate);
    model_ = new DeviceListModel(list_, this);
    delegate_ = new ProgressCellDelegate(this);
    setModel(model_);
    setItemDelegate(delegate_);

    setSelectionBehavior(QAbstractItemView::SelectRows);  // full-row selection
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setSortingEnabled(false);  // sorting belongs to DeviceList (header clicks below)
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    QHeaderView* header = horizontalHeader();
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setSortIndicatorShown(false);

    connect(header, &QHeaderView::sectionClicked, this, [this](int column) {
        if (horizontalHeader()->isHidden() || !horizontalHeader()->sectionsClickable()) return;
        list_.OnHeaderClick(column);
    });
    connect(model_, &QAbstractItemModel::modelReset, this, &CReportCtrl::applyColumns);
    connect(model_, &DeviceListModel::listSorted, this, &CReportCtrl::showSortArrow);
    connect(model_, &DeviceListModel::checkClicked, this, &CReportCtrl::checkChanged);
    connect(model_, &DeviceListModel::listSorted, this, &CReportCtrl::sorted);
    connect(model_, &DeviceListModel::listSelectionChanged, this, &CReportCtrl::pushSelectionToView);
    connect(model_, &DeviceListModel::listRedrawChanged, this, [this](bool on) {
        setUpdatesEnabled(on);
        if (on) viewport()->update();
    });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CReportCtrl::pullSelectionFromView);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            &CReportCtrl::pullSelectionFromView);

    applyColumns();
    pushSelectionToView();
}

void CReportCtrl::showSortArrow() {
    // The arrow shows the sort the operator chose, kept while cells change under it.
    QHeaderView* header = horizontalHeader();
    const int column = list_.ChosenSortColumn();
    header->setSortIndicatorShown(column >= 0);
    header->setSortIndicator(column, list_.ChosenSortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void CReportCtrl::applyColumns() {
    showSortArrow();
    QHeaderView* header = horizontalHeader();
    for (int c = 0; c < list_.ColumnCount(); ++c) {
        // Columns 0 (check box) and 1 (status / progress) keep their width.
        header->setSectionResizeMode(
            c, c <= DEVICE_LIST_STATUS_COLUMN ? QHeaderView::Fixed : QHeaderView::Interactive);
        header->resizeSection(c, list_.Column(c)->width);
    }
}

void CReportCtrl::SortByColumn(int column, bool ascending) {
    if (horizontalHeader()->isHidden() || !horizontalHeader()->sectionsClickable()) return;
    list_.SortByColumn(column, ascending);
}

QRect CReportCtrl::checkBoxRect(int row) const {
    const QModelIndex index = model_->index(row, 0);
    if (!index.isValid() || !(index.flags() & Qt::ItemIsUserCheckable)) return {};
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);  // the cell as the delegate gets it (already without the grid line)
    return delegate_->checkIndicatorRect(option, index);
}

bool CReportCtrl::handleCheckClick(QMouseEvent* event, bool doubleClick) {
    // Only the left button toggles a box; the other buttons get the table's ordinary handling.
    if (event->button() != Qt::LeftButton) return false;
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    if (!index.isValid() || index.column() != 0 || !checkBoxRect(index.row()).contains(pos)) return false;
    event->accept();
    list_.ClickCheck(index.row(), doubleClick ? CheckClick::Double : CheckClick::Single);
    return true;
}

void CReportCtrl::mousePressEvent(QMouseEvent* event) {
    if (!handleCheckClick(event, false)) QTableView::mousePressEvent(event);
}

void CReportCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!handleCheckClick(event, true)) QTableView::mouseDoubleClickEvent(event);
}

void CReportCtrl::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {  // the space bar never toggles a check box
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void CReportCtrl::pushSelectionToView() {
    if (syncingSelection_) return;
    syncingSelection_ = true;
    QItemSelection selection;
    const int lastColumn = model_->columnCount() - 1;
    for (int r = 0; r < list_.RowCount(); ++r) {
        if (list_.IsSelected(r)) selection.select(model_->index(r, 0), model_->index(r, lastColumn));
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    const int focused = list_.FocusedRow();
    selectionModel()->setCurrentIndex(focused >= 0 ? model_->index(focused, 0) : QModelIndex(),
                                      QItemSelectionModel::NoUpdate);
    syncingSelection_ = false;
}

void CReportCtrl::pullSelectionFromView() {
    if (syncingSelection_) return;
    syncingSelection_ = true;
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
    const QModelIndex current = selectionModel()->currentIndex();
    list_.SetSelection(rows, current.isValid() ? current.row() : -1);
    syncingSelection_ = false;
}

std::optional<int64_t> CReportCtrl::parseLocaleDate(std::string_view utf8) {
    // Cheap refusal first: a date or time has a digit and one of these separators.
    bool digit = false, separator = false, word = false;
    for (char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        digit = digit || (c >= '0' && c <= '9');
        separator = separator || c == '-' || c == '/' || c == '.' || c == ':' || u >= 0x80;
        word = word || u >= 0x80 || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    }
    if (!digit || !separator || utf8.size() > 64) return std::nullopt;
    // Points in time as seconds of the local wall clock, the unit of parseCellDate.
    auto wallSeconds = [](const QDate& date, const QTime& time) {
        return QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
    };
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    const QLocale locale;
    for (QLocale::FormatType format : {QLocale::ShortFormat, QLocale::LongFormat}) {
        if (format == QLocale::LongFormat && !word) break;  // long formats spell out a month or a day
        const QDateTime dateTime = locale.toDateTime(text, format);
        if (dateTime.isValid()) return wallSeconds(dateTime.date(), dateTime.time());
        const QDate date = locale.toDate(text, format);
        if (date.isValid()) return wallSeconds(date, QTime(0, 0));
    }
    if (auto fallback = parseCellDate(utf8)) return fallback;
    const QDateTime iso = QDateTime::fromString(text, Qt::ISODate);
    if (iso.isValid()) return wallSeconds(iso.date(), iso.time());
    return std::nullopt;
}

// ProgressCellDelegate: draws the device list's progress cells; every other cell is drawn by
// QStyledItemDelegate. It also keeps the default delegate from toggling check boxes: the list
// control routes check-box clicks through DeviceList::ClickCheck itself.
#pragma once

#include <QStyledItemDelegate>
#include <string>

struct PROGRESS_DATA;

// The percent text of a progress cell: the cell's format with "%d" replaced by the percent and "%%"
// by "%" (nothing else is interpreted); an empty format means "%d%%".
QString formatProgressText(const std::string& textFormat, int percent);

// Paints one progress cell inside cellBounds (the cell's rectangle as the view gives it): white box
// with a 1-pixel black frame (bottom moved up by 1, left moved right by 1), the green part for the
// percent, and the blue percent text centred in the bounds shrunk by 1.
void paintProgressCell(QPainter* painter, const QRect& cellBounds, const PROGRESS_DATA& progress);

class ProgressCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // Where the check box of a checkable cell is drawn, in view coordinates.
    QRect checkIndicatorRect(const QStyleOptionViewItem& option, const QModelIndex& index) const;

  protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
};

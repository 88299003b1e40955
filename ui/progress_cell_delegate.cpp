// ProgressCellDelegate; see progress_cell_delegate.h.
#include "ui/progress_cell_delegate.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

#include "engine/device_list.h"
#include "ui/device_list_model.h"

QString formatProgressText(const std::string& textFormat, int percent) {
    return QString::fromStdString(formatProgressPercent(textFormat, percent));
}

void paintProgressCell(QPainter* painter, const QRect& cellBounds, const PROGRESS_DATA& progress) {
    // Edges as exclusive coordinates: right = x + width, bottom = y + height.
    int left = cellBounds.x() + 1;
    const int top = cellBounds.y();
    const int right = cellBounds.x() + cellBounds.width();
    const int bottom = cellBounds.y() + cellBounds.height() - 1;
    if (right - left < 2 || bottom - top < 2) return;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->fillRect(QRect(left, top, right - left, bottom - top), Qt::white);
    painter->fillRect(QRect(left, top, right - left, 1), Qt::black);         // top edge
    painter->fillRect(QRect(left, bottom - 1, right - left, 1), Qt::black);  // bottom edge
    painter->fillRect(QRect(left, top, 1, bottom - top), Qt::black);         // left edge
    painter->fillRect(QRect(right - 1, top, 1, bottom - top), Qt::black);    // right edge

    const int percent = progress.percent;
    if (percent > 0) {
        const int innerRight = left + percent * (right - (left + 1)) / 100;
        const QRect inner(left + 1, top + 1, innerRight - (left + 1), (bottom - 1) - (top + 1));
        if (inner.width() > 0 && inner.height() > 0) painter->fillRect(inner, QColor(0, 255, 0));
        if (progress.showText != 0) {
            painter->setPen(QColor(0, 0, 255));
            painter->setBackgroundMode(Qt::TransparentMode);
            painter->drawText(cellBounds.adjusted(1, 1, -1, -1), Qt::AlignCenter | Qt::TextSingleLine,
                              formatProgressText(progress.textFormat, percent));
        }
    }
    painter->restore();
}

namespace {

const PROGRESS_DATA* progressOf(const QModelIndex& index) {
    const auto* model = qobject_cast<const DeviceListModel*>(index.model());
    if (model == nullptr) return nullptr;
    const PROGRESS_DATA* progress = model->list().CellProgress(index.row(), index.column());
    return progress && progress->inUse ? progress : nullptr;
}

}  // namespace

void ProgressCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    if (const PROGRESS_DATA* progress = progressOf(index)) {
        paintProgressCell(painter, option.rect, *progress);
        return;
    }
    QStyledItemDelegate::paint(painter, option, index);
}

QRect ProgressCellDelegate::checkIndicatorRect(const QStyleOptionViewItem& option,
                                               const QModelIndex& index) const {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    if (!(opt.features & QStyleOptionViewItem::HasCheckIndicator)) return {};
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    return style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, widget);
}

bool ProgressCellDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                       const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (index.flags() & Qt::ItemIsUserCheckable) {
        // Never toggle here (not by mouse, not by keyboard); the view routes check-box clicks itself.
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick: {
                const auto* mouse = static_cast<QMouseEvent*>(event);
                return checkIndicatorRect(option, index).contains(mouse->position().toPoint());
            }
            case QEvent::KeyPress:
                return false;
            default:
                break;
        }
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

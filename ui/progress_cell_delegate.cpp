// ProgressCellDelegate; see progress_cell_delegate.h.
#include "ui/progress_cell_delegate.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

#include "engine/device_list.h"
#include "engine/progress_cell.h"
#include "ui/device_list_model.h"

QString formatProgressText(const std::string& textFormat, int percent) {
    return QString::fromStdString(formatProgressPercent(textFormat, percent));
}

void paintProgressCell(QPainter* painter, const QRect& cellBounds, const PROGRESS_DATA& progress) {
    // Edges as exclusive coordinates: right = x + width, bottom = y + height.
    const CellRect cell{cellBounds.x(), cellBounds.y(), cellBounds.x() + cellBounds.width(),
                        cellBounds.y() + cellBounds.height()};
    const ProgressCellDrawing drawing = progressCellDrawing(cell, progress);
    auto toQRect = [](const CellRect& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); };
    const CellRect& box = drawing.box;
    if (box.right - box.left < 2 || box.bottom - box.top < 2) return;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->fillRect(toQRect(box), Qt::white);
    painter->fillRect(QRect(box.left, box.top, box.right - box.left, 1), Qt::black);         // top edge
    painter->fillRect(QRect(box.left, box.bottom - 1, box.right - box.left, 1), Qt::black);  // bottom edge
    painter->fillRect(QRect(box.left, box.top, 1, box.bottom - box.top), Qt::black);         // left edge
    painter->fillRect(QRect(box.right - 1, box.top, 1, box.bottom - box.top), Qt::black);    // right edge
    if (drawing.hasBar) {
        const QRect inner = toQRect(drawing.bar);
        if (inner.width() > 0 && inner.height() > 0) painter->fillRect(inner, QColor(0, 255, 0));
    }
    if (drawing.hasText) {
        painter->setPen(QColor(0, 0, 255));
        painter->setBackgroundMode(Qt::TransparentMode);
        painter->drawText(toQRect(drawing.textBounds), Qt::AlignCenter | Qt::TextSingleLine,
                          QString::fromStdString(drawing.text));
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

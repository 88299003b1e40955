// Four-field IPv4 entry; see ip_address_edit.h.
#include "ui/ip_address_edit.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpressionValidator>

IpAddressEdit::IpAddressEdit(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(0);
    const auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (int i = 0; i < 4; ++i) {
        auto* edit = new QLineEdit(this);
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setMaxLength(3);
        edit->setValidator(digits);
        edit->setObjectName(QStringLiteral("field%1").arg(i));
        edit->installEventFilter(this);
        edit->setContextMenuPolicy(Qt::NoContextMenu);
        connect(edit, &QLineEdit::textEdited, this, [this, i] { onFieldEdited(i); });
        fields_[static_cast<size_t>(i)] = edit;
        layout->addWidget(edit, 1);
        if (i < 3) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            layout->addWidget(dot, 0);
        }
    }
    setFocusProxy(fields_[0]);
}

QString IpAddressEdit::text() const {
    QStringList parts;
    for (const QLineEdit* edit : fields_) {
        const QString value = edit->text();
        parts << (value.isEmpty() ? QStringLiteral("0") : QString::number(value.toInt()));
    }
    return parts.join(QLatin1Char('.'));
}

void IpAddressEdit::setText(const QString& dotted) {
    const QStringList parts = dotted.split(QLatin1Char('.'));
    for (int i = 0; i < 4; ++i) {
        QString value;
        if (i < parts.size()) {
            bool ok = false;
            const int number = parts[i].trimmed().toInt(&ok);
            if (ok && number >= 0) value = QString::number(qMin(number, 255));
        }
        fields_[static_cast<size_t>(i)]->setText(value);
    }
}

void IpAddressEdit::clear() {
    for (QLineEdit* edit : fields_) edit->clear();
}

bool IpAddressEdit::isBlank() const {
    for (const QLineEdit* edit : fields_) {
        if (!edit->text().isEmpty()) return false;
    }
    return true;
}

void IpAddressEdit::onFieldEdited(int index) {
    QLineEdit* edit = fields_[static_cast<size_t>(index)];
    const QString value = edit->text();
    if (!value.isEmpty() && value.toInt() > 255) edit->setText(QStringLiteral("255"));
    emit fieldChanged(index);
    if (edit->text().size() == 3 && edit->cursorPosition() == 3 && index < 3) focusField(index + 1, false);
}

void IpAddressEdit::focusField(int index, bool atEnd) {
    QLineEdit* edit = fields_[static_cast<size_t>(index)];
    edit->setFocus(Qt::OtherFocusReason);
    if (atEnd) {
        edit->deselect();
        edit->setCursorPosition(edit->text().size());
    } else {
        edit->selectAll();
    }
}

int IpAddressEdit::indexOf(QObject* object) const {
    for (int i = 0; i < 4; ++i) {
        if (fields_[static_cast<size_t>(i)] == object) return i;
    }
    return -1;
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    const int index = indexOf(watched);
    if (index < 0 || event->type() != QEvent::KeyPress) return QFrame::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    QLineEdit* edit = fields_[static_cast<size_t>(index)];
    switch (key->key()) {
        case Qt::Key_Period:
        case Qt::Key_Space:
            if (index < 3 && !edit->text().isEmpty()) focusField(index + 1, false);
            return true;  // never typed into the field
        case Qt::Key_Backspace:
            if (index > 0 && edit->cursorPosition() == 0 && !edit->hasSelectedText()) {
                focusField(index - 1, true);
                return true;
            }
            break;
        case Qt::Key_Left:
            if (index > 0 && edit->cursorPosition() == 0 && !edit->hasSelectedText()) {
                focusField(index - 1, true);
                return true;
            }
            break;
        case Qt::Key_Right:
            if (index < 3 && edit->cursorPosition() == edit->text().size() && !edit->hasSelectedText()) {
                fields_[static_cast<size_t>(index + 1)]->setFocus(Qt::OtherFocusReason);
                fields_[static_cast<size_t>(index + 1)]->setCursorPosition(0);
                return true;
            }
            break;
        default:
            break;
    }
    return QFrame::eventFilter(watched, event);
}

void IpAddressEdit::changeEvent(QEvent* event) {
    // Disabled controls show the window colour behind their fields, as the platform's control does.
    if (event->type() == QEvent::EnabledChange)
        setBackgroundRole(isEnabled() ? QPalette::Base : QPalette::Window);
    QFrame::changeEvent(event);
}

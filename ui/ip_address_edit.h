// The four-field IPv4 entry that the main dialog uses for the address box IP (1021) and the single
// device IP (1023), behaving as the platform's IP address control: four fields of at most three
// digits, each 0-255 (a larger number becomes 255), '.' or a third digit moves on to the next field,
// Backspace in an empty field and the arrow keys at a field's edge move back, and the whole control
// reads "a.b.c.d" with a blank field read as 0 (a blank control reads "0.0.0.0").
#pragma once

#include <QFrame>
#include <QLineEdit>
#include <QString>
#include <array>

class IpAddressEdit : public QFrame {
    Q_OBJECT
  public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    // "a.b.c.d", blank fields as 0.
    QString text() const;
    // Fills the fields from a dotted text (missing or non-numeric parts left blank); no change signal.
    void setText(const QString& dotted);
    void clear();
    bool isBlank() const;  // every field empty

    // The field editors (0..3), for focus handling and tests.
    QLineEdit* field(int index) const { return fields_[static_cast<size_t>(index)]; }

  signals:
    // The operator edited a field (each keystroke that changes a field's text).
    void fieldChanged(int field);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void onFieldEdited(int index);
    void focusField(int index, bool atEnd);
    int indexOf(QObject* object) const;

    std::array<QLineEdit*, 4> fields_{};
};

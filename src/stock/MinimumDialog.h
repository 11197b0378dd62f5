#pragma once

#include "store/register/Connection.h"

#include <QDialog>

#include <optional>

class QLineEdit;
class QPushButton;

namespace tarvik {

// A part's minimum stock typed in one box, digits only; empty means none. It only asks: the
// caller writes.
class MinimumDialog : public QDialog {
    Q_OBJECT

public:
    MinimumDialog(const QString& partName, std::optional<qint64> minimum,
                  QWidget* parent = nullptr);

    // What was typed (none: the box emptied).
    std::optional<qint64> minimum() const;

private:
    QLineEdit* m_box = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

// Writes the part's minimum through the parts' write path if the stored one is still
// `expected`; empty when saved, otherwise why not, to follow "…: " in a sentence.
QString setMinimumOrSayWhy(const Connection& db, qint64 id, std::optional<qint64> minimum,
                           std::optional<qint64> expected);
// The sentence for a minimum not saved.
QString minimumNotSaved(const QString& partName, const QString& reason);

// Asks for the part's minimum (shown as stored now) and writes it; a refusal is told. True
// when the minimum changed.
bool editMinimum(QWidget* parent, const Connection& db, qint64 id, const QString& partName);

} // namespace tarvik

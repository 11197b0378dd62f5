#pragma once

#include "store/register/Connection.h"

#include <QDialog>

#include <optional>

class QLabel;
class QPushButton;
class QTableView;

namespace tarvik {

class Register;
class ShortageModel;

// "Нехватка": the parts at or below their minimum stock, sorted by name, with what is missing
// and its value at the stored price; the minimum is edited in its cell, and the list is saved
// as CSV for ordering. It reads and writes through a connection of its own from the register.
class ShortageWindow : public QDialog {
    Q_OBJECT

public:
    explicit ShortageWindow(Register& reg, QWidget* parent = nullptr);
    ~ShortageWindow() override;

    // Whether a minimum was changed while the window was open.
    bool changedMinimums() const { return m_changed; }

private:
    void reload();
    void fitColumns();
    void writeMinimum(int row, std::optional<qint64> minimum);
    void saveCsv();
    QByteArray csv() const;

    Connection m_db;
    ShortageModel* m_model = nullptr;
    QLabel* m_summary = nullptr;
    QTableView* m_grid = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_close = nullptr;
    bool m_changed = false;
};

} // namespace tarvik

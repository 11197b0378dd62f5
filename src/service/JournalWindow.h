#pragma once

#include "store/records/Journal.h"
#include "store/register/Connection.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace tarvik {

class JournalModel;
class Register;

// "Журнал изменений": every change to the parts, newest first, searched by part name and
// narrowed to one part, with "Отменить" for the selected entry. It reads and undoes through a
// connection of its own from the register; it knows nothing of the main window.
class JournalWindow : public QDialog {
    Q_OBJECT

public:
    struct ForPart {
        qint64 id;
        QString name;
    };
    // `part`: opened for that part, narrowed to it from the start.
    JournalWindow(Register& reg, std::optional<ForPart> part, QWidget* parent = nullptr);
    ~JournalWindow() override;

    // Whether an undo changed the parts while the window was open.
    bool changedParts() const { return m_changedParts; }

private:
    void applyFilter();
    void showReading(bool reading);
    void undoSelected();
    void selectionMoved();
    const JournalEntry* selected() const;

    Connection m_db;
    Journal m_journal{m_db};
    JournalModel* m_model = nullptr;
    std::optional<ForPart> m_part;
    QLabel* m_notKept = nullptr;
    QLineEdit* m_search = nullptr;
    QTimer* m_searchPause = nullptr;
    QLabel* m_status = nullptr;
    QCheckBox* m_onePart = nullptr;
    QTableView* m_grid = nullptr;
    QPushButton* m_undo = nullptr;
    QPushButton* m_close = nullptr;
    bool m_changedParts = false;
};

} // namespace tarvik

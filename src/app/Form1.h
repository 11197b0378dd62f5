#pragma once

#include "editor/PartSaving.h"
#include "store/register/Connection.h"
#include "store/register/ProgramPaths.h"

#include <QMainWindow>

#include <memory>
#include <optional>

class QLabel;

namespace Ui {
class Form1;
}

namespace tarvik {

class DailyBackup;
class DamageCheck;
class NameCopy;
class RecordSource;
class Register;
class StockFigures;
class StockStatus;

// The main window: the parts list, the current part's details and every command.
class Form1 : public QMainWindow {
    Q_OBJECT

public:
    // The register is owned by the caller and outlives the window.
    Form1(const ProgramPaths& paths, Register& reg, QWidget* parent = nullptr);
    ~Form1() override;

    // The parts list and the current part's package type, for tests and benchmarks; the
    // other windows are given what they need instead.
    RecordSource* Data1() const { return m_data1; }
    RecordSource* Data7() const { return m_data7; }
    StockFigures* stockFigures() const { return m_figures; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    static inline const QString kTitle = QStringLiteral("Тарвик радиодеталей");

    void load();
    void reportOpenProblem(const OpenResult& result);
    void setUpGrid();
    void connectCommands();
    void connectServiceCommands();
    // "Сервис" → export and import of the parts as CSV.
    void connectCsvCommands();
    void connectListKeys();

    void onGridReset();
    void onRowChange(int row);
    void fillDetails();
    void clearDetails();
    void showPackagePicture();
    void showStockValue();
    void countRecords();

    void quickSearch(const QString& text);
    // Lists the parts whose names match `text`, from the found rows when the copy has them.
    void showPatternFound(const QString& text);
    void showAll();
    void stepQuantity(double step);
    void deletePart();
    void closeDatabases();
    bool leaveWithoutNotes();
    void openJournal(bool forCurrentPart);

    // The stock's figures in the status line, the marks of parts short of their minimum, the
    // shortage list and a part's minimum.
    void setUpStock();
    void startStockFigures();
    void openShortages();
    void editCurrentMinimum();

    // The package types and the enlarged package picture.
    void connectPackageCommands();
    void openPackageTypes();
    void openPackagePicture();
    // The part dialogs.
    void connectPartDialogs();
    void newPart();
    void editPart();
    PartSaver listedSaver();

    // The day's backup and the backup commands (Form1Backup.cpp).
    void setUpBackups();
    void startDailyBackup();

    // Other computers' changes on a server register, followed once no dialog is open.
    void connectChangesElsewhere();
    void followChangesElsewhere();
    void showPartsChangedElsewhere();

    // The register under other programs: locks, damage, values they wrote.
    void reportBusy();
    void reportDamage(const QString& detail);
    bool recheckIfBusy();
    void startDamageCheck();
    void setShownValue(QLabel* label, const QString& text);
    void showRecordCount(const QString& text);
    void restoreGridRow();

    std::unique_ptr<Ui::Form1> ui;
    ProgramPaths m_paths;
    Register& m_register;
    RecordSource* m_data1;
    RecordSource* m_data7;
    Connection m_database;   // the direct handle, open from load until shutdown
    NameCopy* m_names;       // the parts' names in memory, for the quick search
    StockFigures* m_figures; // the parts' prices, quantities and minimums in memory
    StockStatus* m_stock = nullptr;
    std::optional<qint64> m_recordCount;
    bool m_loaded = false;
    bool m_fillingDetails = false;
    bool m_exitConfirmed = false;
    DamageCheck* m_damageCheck = nullptr;
    DailyBackup* m_dailyBackup = nullptr;
    bool m_dailyBackupAsked = false;
    bool m_restoringRow = false;
    bool m_partsChangedElsewhere = false;
    bool m_typesChangedElsewhere = false;
    bool m_waitingForModal = false;
};

} // namespace tarvik

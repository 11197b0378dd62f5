#pragma once

#include "editor/PartSaving.h"
#include "store/records/PartRow.h"
#include "store/register/Connection.h"
#include "store/register/ProgramPaths.h"

#include <QDialog>

#include <memory>
#include <optional>

class QTimer;

namespace Ui {
class Form2;
}

namespace tarvik {

class RecordSource;
class Register;
struct Statement;

// "Новый элемент": one part's name, package type, quantity, price and notes. The dialog
// hands the part to its owner's saver and stays open when that fails, with the input kept.
// As Form12 the same dialog changes a part that exists.
class Form2 : public QDialog {
    Q_OBJECT

public:
    // The register gives the dialog its own views: the package types (Data5) and the handle
    // of the duplicate-name check.
    Form2(Register& reg, const ProgramPaths& paths, PartSaver save, QWidget* parent = nullptr);
    ~Form2() override;

    // The part as last handed to the saver.
    const PartRow& part() const { return m_part; }

    // The package type the last look-up found, spelled as stored: the part's PhotoN.
    QString chosenPackage() const { return m_chosenPackage; }

public slots:
    // Cancel and the close box: nothing is written.
    void reject() override;

protected:
    // Opened on `shown`, the part as its owner shows it; `stored` is the row as the file holds
    // it now, which saving expects to find unchanged.
    Form2(Register& reg, const ProgramPaths& paths, const PartRow& shown, const PartRow& stored,
          PartSaver save, QWidget* parent);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Form2(Register& reg, const ProgramPaths& paths, std::optional<PartRow> shown,
          const PartRow& stored, PartSaver save, QWidget* parent);
    void placeForEditing();
    void fill(const PartRow& part);
    void centreOnScreen();

    void listPackageTypes(const Statement& statement);
    void choosePackage(const QString& text);
    void warnIfNameStored();
    bool filterKey(QObject* box, QKeyEvent* key);
    bool validate();
    void save();
    void changedElsewhere(const PartRow& now);

    std::unique_ptr<Ui::Form2> ui;
    const std::optional<PartRow> m_current; // set when editing: the part as it was opened
    PartRow m_stored; // when editing: the row as the file held it when the dialog opened
    ProgramPaths m_paths;
    PartSaver m_save;
    PartRow m_part;
    RecordSource* m_data5;
    Connection m_handle; // the duplicate-name check's own view
    QTimer* m_timer1;
    QString m_chosenPackage;
    QByteArray m_pictureData;
    QString m_picturePath;
    bool m_saving = false;
};

// "Изменение данных": Form2 opened on an existing part, saved in its place.
class Form12 final : public Form2 {
    Q_OBJECT

public:
    Form12(Register& reg, const ProgramPaths& paths, const PartRow& shown, const PartRow& stored,
           PartSaver save, QWidget* parent = nullptr)
        : Form2(reg, paths, shown, stored, std::move(save), parent)
    {
    }
};

} // namespace tarvik

#pragma once

#include "store/register/Connection.h"
#include "store/register/ProgramPaths.h"

#include <QByteArray>
#include <QDialog>

#include <memory>
#include <optional>

namespace Ui {
class Form5;
}

namespace tarvik {

class RecordSource;
class Register;
struct PictureFile;

// The reference list of package types: each type's name and picture. Lists the types by
// name, shows the picture of the selected one, adds a type and gives a type a new picture.
// Built afresh for every opening, with its own connections to the register.
class Form5 : public QDialog {
    Q_OBJECT

public:
    // The register is owned by the caller and outlives the window.
    Form5(const ProgramPaths& paths, Register& reg, QWidget* owner = nullptr);
    ~Form5() override;

private:
    void load(Register& reg);
    void setUpGrid();
    void onGridReset();
    void onRowChange(int row);
    void showCurrentPicture();

    void choosePicture();
    void previewChosen();
    void askForName();
    void addType();
    void editType();
    void openPicture();

    // The bytes to store from `path`, or nothing after telling the user why the file is
    // refused. A file the user did not choose that does not exist means "no picture".
    std::optional<QByteArray> pictureToStore(const QString& path, const QString& refusedWhat);
    void refuse(const QString& path, const PictureFile& file, const QString& consequence);
    QString fallbackPicturePath(const QString& name) const;

    std::unique_ptr<Ui::Form5> ui;
    ProgramPaths m_paths;
    RecordSource* m_data13;
    Connection m_database; // the window's direct handle, for the largest type number
    QByteArray m_pictureData;
    QString m_chosenPicture; // the file chosen with "Фото"; empty after each Add or Edit
};

} // namespace tarvik

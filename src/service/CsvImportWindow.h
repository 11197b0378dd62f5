#pragma once

#include "store/records/PartImport.h"

#include <QDialog>

class QButtonGroup;
class QPushButton;

namespace tarvik {

// What an import of a CSV file would do, shown before anything is written: the encoding and
// separator found, how many rows are new, how many names the register holds already and what
// to do with them, the bad rows and the columns read past. "Импортировать" accepts with the
// choice made; "Отмена" (or Esc) leaves everything as it was.
class CsvImportWindow : public QDialog {
    Q_OBJECT

public:
    CsvImportWindow(const QString& fileName, const PartImportPlan& plan, QWidget* parent = nullptr);

    ExistingNames existingNames() const;

private:
    QButtonGroup* m_existing;
    QPushButton* m_import;
};

} // namespace tarvik

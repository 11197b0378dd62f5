#include "app/Form1.h"

#include "service/PartsCsv.h"
#include "store/records/RecordSource.h"
#include "ui_Form1.h"

// The parts as CSV from the main window's "Сервис" menu: the list's rows out, a file's rows in.

namespace tarvik {

void Form1::connectCsvCommands()
{
    auto* exportCsv = new QAction(QStringLiteral("Экспорт в CSV…"), this);
    exportCsv->setObjectName(QStringLiteral("exportCsv"));
    auto* importCsv = new QAction(QStringLiteral("Импорт из CSV…"), this);
    importCsv->setObjectName(QStringLiteral("importCsv"));
    ui->serv->addAction(exportCsv);
    ui->serv->addAction(importCsv);
    connect(exportCsv, &QAction::triggered, this, [this] {
        // Notes being typed are saved first: the file shows them.
        m_data1->savePending();
        // Every row the list's statement gives, those still arriving too: the whole list by
        // name is read afresh by the export, a search's rows by the list.
        const bool all = m_data1->shownStatement() == Statements::partsByName();
        exportPartsToCsv(this, m_register,
                         all ? ListedParts() : ListedParts([this](QSqlError& error) {
                             return m_data1->allKeys(error);
                         }));
    });
    connect(importCsv, &QAction::triggered, this, [this] {
        m_data1->savePending();
        if (importPartsFromCsv(this, m_register))
            showPartsChangedElsewhere();
    });
}

} // namespace tarvik

#include "service/PartsCsv.h"

#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "gui/WaitCursor.h"
#include "service/CsvImportWindow.h"
#include "store/records/PartExport.h"
#include "store/records/PartWriter.h"
#include "store/register/Register.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QSaveFile>

namespace tarvik {
namespace {

const QString kExportTitle = QStringLiteral("Экспорт в CSV");
const QString kImportTitle = QStringLiteral("Импорт из CSV");
const QString kFilter = QStringLiteral("Таблица CSV (*.csv);;Все файлы (*)");

void warn(QWidget* parent, const QString& title, const QString& text)
{
    MessageBox::show(parent, QMessageBox::Warning, title, text, QMessageBox::Ok);
}

} // namespace

void exportPartsToCsv(QWidget* parent, Register& reg, const ListedParts& listed)
{
    QString path = FileDialog::getSaveFileName(
        parent, QStringLiteral("Экспорт деталей в CSV"),
        QDir(QDir::homePath()).filePath(QStringLiteral("детали.csv")), kFilter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    const QString failed =
        QStringLiteral("Детали не выгружены в файл «%1».").arg(QDir::toNativeSeparators(path));
    Connection db;
    const OpenResult opened = reg.connect(db);
    if (!db.isOpen()) {
        warn(parent, kExportTitle, withDetail(failed, engineDetail(opened.detail)));
        return;
    }
    QSqlError error;
    const std::optional<QVector<qint64>> ids = listed ? listed(error) : partIdsByName(db, &error);
    if (!ids) {
        warn(parent, kExportTitle, withDetail(failed, engineDetail(error)));
        return;
    }
    QProgressDialog progress(QStringLiteral("Экспорт деталей…"), QStringLiteral("Отмена"), 0,
                             int(ids->size()), parent);
    progress.setObjectName(QStringLiteral("exportProgress"));
    progress.setWindowTitle(kExportTitle);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    WaitCursor wait;
    // Written to a file of its own and put in place at the end: a cut-short list never
    // replaces the file the user chose.
    QSaveFile file(path);
    PartExport written;
    if (!file.open(QIODevice::WriteOnly)) {
        written.reason = file.errorString();
    } else {
        written = exportPartsCsv(db, *ids, file, [&](qint64 done) {
            progress.setValue(int(done)); // lets the window's events through while it shows
            return !progress.wasCanceled();
        });
        if (written.ok() && !file.commit())
            written.reason = file.errorString();
    }
    progress.reset();
    if (written.ok() || progress.wasCanceled())
        return;
    warn(parent, kExportTitle,
         withDetail(failed, written.error.isValid() ? engineDetail(written.error)
                                                    : engineDetail(written.reason)));
}

bool importPartsFromCsv(QWidget* parent, Register& reg)
{
    const QString path = FileDialog::getOpenFileName(
        parent, QStringLiteral("Импорт деталей из CSV"), QDir::homePath(), kFilter);
    if (path.isEmpty())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        warn(parent, kImportTitle,
             withDetail(QStringLiteral("Файл «%1» не открыт.").arg(QDir::toNativeSeparators(path)),
                        engineDetail(file.errorString())));
        return false;
    }
    Connection db;
    reg.connect(db);
    PartImportPlan plan;
    {
        WaitCursor wait;
        plan = planPartImport(db, file);
    }
    if (!plan.ok()) {
        warn(parent, kImportTitle,
             plan.error.isValid()
                 ? withDetail(QStringLiteral("Детали базы не прочитаны."), engineDetail(plan.error))
                 : plan.refusal);
        return false;
    }
    CsvImportWindow window(path, plan, parent);
    if (window.exec() != QDialog::Accepted)
        return false;
    // Written on the window's thread in one transaction, with the progress answering between
    // slices of rows; the window is modal-blocked meanwhile, so nothing else of the program
    // writes. Stopped: the transaction is rolled back, nothing of the file is written.
    const qsizetype total = plan.rows.size();
    QProgressDialog progress(QStringLiteral("Импорт…"), QStringLiteral("Отмена"), 0, int(total),
                             parent);
    progress.setObjectName(QStringLiteral("importProgress"));
    progress.setWindowTitle(kImportTitle);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    PartWriter::ImportCounts counts;
    const PartWrite write =
        PartWriter(db).importParts(plan.rows, window.existingNames(), &counts, [&](qsizetype done) {
            progress.setLabelText(QStringLiteral("Импорт… %1 из %2").arg(done).arg(total));
            progress.setValue(int(done)); // lets the window's events through
            return !progress.wasCanceled();
        });
    // "Отмена" pressed after the last slice comes too late to stop the commit: what was
    // written is said and listed as any import's.
    const bool stopped = progress.wasCanceled() && !write.saved();
    progress.reset();
    if (stopped)
        return false;
    if (!write.saved()) {
        warn(parent, kImportTitle,
             withDetail(QStringLiteral("Детали не импортированы, база не изменена."),
                        write.error.isValid() ? engineDetail(write.error) : write.reason));
        return false;
    }
    MessageBox::show(parent, QMessageBox::Information, kImportTitle,
                     QStringLiteral("Добавлено деталей: %1, обновлено: %2, пропущено: %3.")
                         .arg(counts.added)
                         .arg(counts.updated)
                         .arg(counts.skipped),
                     QMessageBox::Ok);
    return counts.added + counts.updated > 0;
}

} // namespace tarvik

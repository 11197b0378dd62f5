#include "app/AccessImportStartup.h"

#include "gui/MessageBox.h"
#include "store/access/AccessHeader.h"
#include "store/access/AccessImport.h"
#include "store/register/Connection.h"

#include <QDir>
#include <QProgressBar>
#include <QProgressDialog>

namespace tarvik {
namespace {

const QString kTitle = QStringLiteral("Тарвик радиодеталей");

QString quoted(const QString& path)
{
    return QStringLiteral("«%1»").arg(QDir::toNativeSeparators(path));
}

// The program's sentence with the system's or engine's words kept short.
QString describe(const QString& path, ImportResult result)
{
    result.detail = engineDetail(result.detail);
    return describeImportProblem(path, result);
}

void notice(QMessageBox::Icon icon, const QString& text)
{
    MessageBox::show(nullptr, icon, kTitle, text, QMessageBox::Ok);
}

QString endsUnchanged(const QString& path)
{
    return QStringLiteral("Файл %1 не изменён. Программа работает только с базой нового формата "
                          "и будет закрыта.")
        .arg(quoted(path));
}

} // namespace

std::optional<int> bringOverAccessRegister(const ProgramPaths& paths)
{
    const QString path = paths.databasePath();
    const AccessHeader header = readAccessHeader(path);
    if (header.format == AccessHeader::Format::Newer) {
        ImportResult newer;
        newer.problem = ImportProblem::NewerFormat;
        notice(QMessageBox::Warning,
               describe(path, newer) + QLatin1Char('\n') + endsUnchanged(path));
        return 1;
    }
    if (!header.isJet())
        return std::nullopt; // ours, or a problem the main window reports in its own words

    const QMessageBox::StandardButton answer = MessageBox::show(
        nullptr, QMessageBox::Question, kTitle,
        QStringLiteral("Файл базы %1 в формате Access. Перенести данные в новый формат?")
            .arg(quoted(path)),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes) {
        notice(QMessageBox::NoIcon, QStringLiteral("Данные не перенесены. ") + endsUnchanged(path));
        return 0;
    }

    QProgressDialog progress(QStringLiteral("Перенос данных из файла %1…").arg(quoted(path)),
                             QStringLiteral("Отмена"), 0, 1);
    progress.setObjectName(QStringLiteral("importProgress"));
    auto* bar = new QProgressBar(&progress);
    bar->setObjectName(QStringLiteral("importProgressBar"));
    bar->setAccessibleName(QStringLiteral("Перенесено строк"));
    progress.setBar(bar);
    progress.setAccessibleName(QStringLiteral("Перенос данных"));
    progress.setAccessibleDescription(QStringLiteral("Ход переноса данных из файла Access"));
    progress.setWindowTitle(kTitle);
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    progress.setMinimumWidth(420);
    progress.setValue(0);
    const ImportResult result = replaceAccessRegister(path, [&](qint64 done, qint64 total) {
        progress.setMaximum(int(qMax<qint64>(total, 1)));
        progress.setValue(int(qMin(done, total)));
        return !progress.wasCanceled();
    });
    progress.close();

    if (!result.ok()) {
        const bool cancelled = result.problem == ImportProblem::Cancelled;
        notice(cancelled ? QMessageBox::NoIcon : QMessageBox::Warning,
               describe(path, result) + QLatin1Char('\n') + endsUnchanged(path));
        return cancelled ? 0 : 1;
    }
    notice(QMessageBox::NoIcon,
           QStringLiteral("Данные перенесены: деталей %1, корпусов %2. Прежний файл Access "
                          "сохранён как %3.")
               .arg(result.summary.parts)
               .arg(result.summary.types)
               .arg(quoted(result.keptAccessPath)));
    return std::nullopt;
}

} // namespace tarvik

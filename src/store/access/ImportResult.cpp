#include "store/access/ImportResult.h"

#include "store/register/Connection.h"

#include <QDir>
#include <QStringList>

namespace tarvik {

ImportResult importFailure(ImportProblem problem, const QString& detail)
{
    ImportResult result;
    result.problem = problem;
    result.detail = detail;
    return result;
}

QString withCause(const QString& what, const QString& words)
{
    return words.isEmpty() ? what : what + QStringLiteral(": ") + words;
}

QString describeImportProblem(const QString& accessPath, const ImportResult& result)
{
    const QString file = QStringLiteral("«%1»").arg(QDir::toNativeSeparators(accessPath));
    const QString target = QStringLiteral("«%1»").arg(QDir::toNativeSeparators(result.targetPath));
    switch (result.problem) {
    case ImportProblem::None:
        return {};
    case ImportProblem::Unreadable:
        return withDetail(QStringLiteral("Не удаётся прочитать файл %1.").arg(file),
                          engineDetail(result.detail));
    case ImportProblem::NotAccess:
        return QStringLiteral("Файл %1 не является базой данных Access.").arg(file);
    case ImportProblem::NewerFormat:
        return QStringLiteral("Файл %1 сохранён в формате Access 2007 или новее; переносятся "
                              "только файлы Access 97–2003. Сохраните его в Access в формате "
                              "Access 2000 и повторите.")
            .arg(file);
    case ImportProblem::Password:
        return QStringLiteral("Файл Access %1 защищён паролем. Снимите пароль в Access и "
                              "повторите.")
            .arg(file);
    case ImportProblem::Encrypted:
        return QStringLiteral("Файл Access %1 зашифрован. Расшифруйте его в Access и повторите.")
            .arg(file);
    case ImportProblem::Damaged:
        return withDetail(QStringLiteral("Файл Access %1 повреждён или обрезан.").arg(file),
                          result.detail);
    case ImportProblem::MissingTable: {
        const QStringList tables = result.detail.split(QLatin1Char(' '));
        QStringList quoted;
        for (const QString& table : tables)
            quoted << QStringLiteral("«%1»").arg(table);
        return (tables.size() > 1
                    ? QStringLiteral("В файле Access %1 нет таблиц %2: это не база радиодеталей.")
                    : QStringLiteral("В файле Access %1 нет таблицы %2: это не база радиодеталей."))
            .arg(file, quoted.join(QStringLiteral(" и ")));
    }
    case ImportProblem::MissingField:
        return QStringLiteral("В таблице «%2» файла Access %1 нет поля «%3».")
            .arg(file, result.detail.section(QLatin1Char('.'), 0, 0),
                 result.detail.section(QLatin1Char('.'), 1));
    case ImportProblem::BadValue:
        return QStringLiteral("Данные файла Access %1 нельзя перенести без потерь: %2.")
            .arg(file, result.detail);
    case ImportProblem::TargetExists:
        return QStringLiteral("Файл %1 уже существует и не будет перезаписан.").arg(target);
    case ImportProblem::CannotWrite:
        return withDetail(QStringLiteral("Не удаётся записать новый файл %1.").arg(target),
                          result.detail);
    case ImportProblem::DiskFull:
        return QStringLiteral("Для нового файла %1 не хватает места на диске.").arg(target);
    case ImportProblem::Cancelled:
        return QStringLiteral("Перенос данных из файла %1 отменён.").arg(file);
    }
    return {};
}

} // namespace tarvik

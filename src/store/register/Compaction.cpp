#include "store/register/Compaction.h"

#include "store/register/Connection.h"
#include "store/register/Platform.h"
#include "store/register/Register.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include <optional>
#include <utility>

namespace tarvik {
namespace {

CompactionStep g_failNextAt = CompactionStep::None;

std::function<void(CompactionStep, const QString&)>& stepHook()
{
    static std::function<void(CompactionStep, const QString&)> hook;
    return hook;
}

class Compactor {
public:
    Compactor(Register& reg, FileCheckDepth depth)
        : m_reg(reg),
          m_depth(depth),
          m_path(fileBehind(reg.path())),
          m_copy(compactionCopyPath(m_path))
    {
        m_result.copyPath = m_copy;
    }

    CompactionResult run();

private:
    bool prepare();
    bool vacuum();
    bool check();
    bool keepAttributes();
    bool flush();
    bool replace();

    bool fail(CompactionStep step, const QString& detail)
    {
        m_result.failedStep = step;
        m_result.detail = detail;
        return false;
    }
    bool injected(CompactionStep step)
    {
        if (g_failNextAt != step)
            return false;
        g_failNextAt = CompactionStep::None;
        fail(step, QStringLiteral("injected failure"));
        return true;
    }
    void beginning(CompactionStep step) const
    {
        if (stepHook())
            stepHook()(step, m_copy);
    }

    Register& m_reg;
    FileCheckDepth m_depth;
    QString m_path;
    QString m_copy;
    WriteLock m_writeLock; // holds the register's write lock from the row count to the rename
    RowCounts m_counts;
    CompactionResult m_result;
};

CompactionResult Compactor::run()
{
    const auto timed = [this](CompactionStep step, bool (Compactor::*run)()) {
        QElapsedTimer timer;
        timer.start();
        const bool done = (this->*run)();
        m_result.nanoseconds[size_t(step)] = timer.nsecsElapsed();
        return done;
    };
    const bool done = timed(CompactionStep::Prepare, &Compactor::prepare) &&
                      timed(CompactionStep::Vacuum, &Compactor::vacuum) &&
                      timed(CompactionStep::Check, &Compactor::check) &&
                      timed(CompactionStep::Attributes, &Compactor::keepAttributes) &&
                      timed(CompactionStep::Flush, &Compactor::flush) &&
                      timed(CompactionStep::Replace, &Compactor::replace);
    if (!done)
        m_result.copyLeftBehind = !removeWithCompanions(m_copy);
    // Nothing was written under the lock: closing rolls back an empty transaction. A writer
    // that waited now finds the old file unlinked and gets an error, not a lost success.
    m_writeLock.release();
    return m_result;
}

bool Compactor::prepare()
{
    beginning(CompactionStep::Prepare);
    m_reg.closeAll();
    if (m_reg.openConnections() != 0)
        return fail(CompactionStep::Prepare,
                    QStringLiteral("%1 connections still open").arg(m_reg.openConnections()));
    // Only a copy written now may replace the register.
    QString error;
    if (!removeWithCompanions(m_copy, &error))
        return fail(CompactionStep::Prepare, error);
    m_result.sizeBefore = QFileInfo(m_path).size();
    return !injected(CompactionStep::Prepare);
}

bool Compactor::vacuum()
{
    // Connections of our own; the register hands out none any more. The engine refuses
    // VACUUM inside a transaction, so one connection holds the write lock and another,
    // a reader the lock lets in, writes the copy.
    const QString locked = m_writeLock.take(m_path, &m_counts);
    if (!locked.isEmpty())
        return fail(CompactionStep::Vacuum, locked);
    if (injected(CompactionStep::Vacuum))
        return false;

    beginning(CompactionStep::Vacuum);
    Connection source;
    const OpenResult opened = source.open(m_path);
    if (!opened.ok())
        return fail(CompactionStep::Vacuum, whyNotOpened(opened));
    QSqlQuery query(source.connection());
    query.prepare(QStringLiteral("VACUUM INTO ?"));
    query.addBindValue(m_copy);
    if (!query.exec())
        return fail(CompactionStep::Vacuum, query.lastError().text());
    return true;
}

bool Compactor::check()
{
    beginning(CompactionStep::Check);
    const FileCheck copy = checkRegisterFile(m_copy, m_depth);
    if (!copy.ok())
        return fail(CompactionStep::Check, copy.problem);
    if (copy.parts != m_counts.parts || copy.packageTypes != m_counts.packageTypes)
        return fail(CompactionStep::Check, QStringLiteral("rows client %1/%2, vrYZD %3/%4")
                                               .arg(copy.parts)
                                               .arg(m_counts.parts)
                                               .arg(copy.packageTypes)
                                               .arg(m_counts.packageTypes));
    return !injected(CompactionStep::Check);
}

bool Compactor::keepAttributes()
{
    beginning(CompactionStep::Attributes);
    if (injected(CompactionStep::Attributes))
        return false;
    // The copy takes the register's place, so it serves the same users: a register of
    // another user in a shared folder stays theirs.
    QString error;
    if (!platform::copyFileMetadata(m_path, m_copy, &error))
        return fail(CompactionStep::Attributes, error);
    return true;
}

bool Compactor::flush()
{
    beginning(CompactionStep::Flush);
    if (injected(CompactionStep::Flush))
        return false;
    QString error;
    if (!flushNewFile(m_copy, &error))
        return fail(CompactionStep::Flush, error);
    m_result.sizeAfter = QFileInfo(m_copy).size();
    return true;
}

bool Compactor::replace()
{
    beginning(CompactionStep::Replace);
    if (injected(CompactionStep::Replace))
        return false;
    // A journal beside the register belongs to the old file.
    QString error;
    if (!putInRegistersPlace(m_copy, m_path, &error))
        return fail(CompactionStep::Replace, error);
    return true;
}

} // namespace

QString compactionCopyPath(const QString& registerPath)
{
    return registerPath + QStringLiteral("Temp");
}

CompactionResult compactRegister(Register& reg, FileCheckDepth depth)
{
    return Compactor(reg, depth).run();
}

void failNextCompactionAt(CompactionStep step)
{
    g_failNextAt = step;
}

void setCompactionStepHook(std::function<void(CompactionStep step, const QString& copy)> hook)
{
    stepHook() = std::move(hook);
}

QString describeCompactionFailure(const QString& registerPath, const CompactionResult& result)
{
    QString reason;
    switch (result.failedStep) {
    case CompactionStep::None:
        return {};
    case CompactionStep::Prepare:
        reason = QStringLiteral("не удалось подготовить сжатие");
        break;
    case CompactionStep::Vacuum:
        reason = QStringLiteral("не удалось записать сжатую копию");
        break;
    case CompactionStep::Check:
        reason = QStringLiteral("сжатая копия не прошла проверку");
        break;
    case CompactionStep::Attributes:
        reason = QStringLiteral("сжатой копии не удалось дать владельца и права доступа файла "
                                "базы");
        break;
    case CompactionStep::Flush:
        reason = QStringLiteral("не удалось сохранить сжатую копию на диск");
        break;
    case CompactionStep::Replace:
        reason = QStringLiteral("не удалось поставить сжатую копию на место базы");
        break;
    }
    QString text =
        withDetail(QStringLiteral("База данных не сжата: ") + reason, engineDetail(result.detail)) +
        QStringLiteral(". Файл «%1» остался прежним.").arg(registerPath);
    if (result.copyLeftBehind)
        text += QStringLiteral(" Файл «%1» удалить не удалось.")
                    .arg(result.copyPath.isEmpty() ? compactionCopyPath(registerPath)
                                                   : result.copyPath);
    return text;
}

} // namespace tarvik

#include "store/register/DamageCheck.h"

#include "store/register/Register.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

namespace tarvik {

DamageCheck::DamageCheck(Register& reg, QObject* parent)
    : QObject(parent),
      m_register(reg),
      m_reader(reg, BackgroundReader::Writes::Interrupt)
{
    // The reader stops itself on the close; the check is not tried again after it.
    connect(
        &reg, &Register::aboutToClose, this, [this] { m_closing = true; }, Qt::DirectConnection);
    // The file may have been replaced meanwhile: it is checked again, as at start-up.
    connect(&reg, &Register::reopened, this, [this] {
        m_closing = false;
        start();
    });
    connect(&m_reader, &BackgroundReader::ended, this, &DamageCheck::onEnded);
}

DamageCheck::~DamageCheck()
{
    m_closing = true;
    stop();
}

void DamageCheck::start()
{
    m_reader.takeEnded();
    // A server keeps its own storage whole; there is no file to check.
    if (m_reader.isRunning() || m_closing || m_register.isDamaged() || m_register.onServer())
        return;
    m_reader.start([this](BackgroundReader::Run& run) { return check(run); }, QThread::LowPriority);
}

void DamageCheck::stop()
{
    m_reader.stop();
}

void DamageCheck::onEnded(BackgroundReader::Outcome outcome)
{
    if (outcome == BackgroundReader::Outcome::Finished)
        emit finished(m_problems);
    // A change interrupted it: tried again once the user has been left alone for a while.
    if (outcome == BackgroundReader::Outcome::InterruptedByWrite && !m_closing)
        QTimer::singleShot(m_retryDelayMs, this, [this] {
            if (!isRunning())
                start();
        });
}

bool DamageCheck::check(BackgroundReader::Run& run)
{
    m_problems.clear();
    bool complete = false;
    QSqlQuery query(run.db.connection());
    query.setForwardOnly(true);
    if (query.exec(QStringLiteral("PRAGMA quick_check"))) {
        QStringList lines;
        while (query.next())
            lines << query.value(0).toString();
        complete = !query.lastError().isValid();
        if (complete && lines != QStringList{QStringLiteral("ok")})
            m_problems = lines.join(QLatin1Char('\n'));
    }
    // The engine may report the damage as an error of the check itself.
    if (isDamageError(query.lastError())) {
        complete = true;
        m_problems = query.lastError().databaseText();
    }
    if (complete && !m_problems.isEmpty())
        m_register.noteDamage(m_problems.section(QLatin1Char('\n'), 0, 0));
    return complete; // otherwise interrupted or locked: no verdict
}

} // namespace tarvik

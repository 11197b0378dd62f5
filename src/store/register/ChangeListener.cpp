#include "store/register/ChangeListener.h"

#include "store/register/Register.h"

#include <algorithm>
#include <utility>

namespace tarvik {
namespace {

const QString kPartsChannel = QStringLiteral("tarvik_parts");
const QString kTypesChannel = QStringLiteral("tarvik_types");

// Another computer's change shows within a second: announcements are gathered this long, and
// a lost connection is noticed within one look.
constexpr int kGatherMs = 200;
constexpr int kWatchMs = 1000;
// A server that cannot be reached is not asked on every look: each failed try doubles the
// wait before the next one, up to this. Each try may hold the window up to the connect limit.
constexpr int kLongestRetryMs = 16000;

} // namespace

ChangeListener::ChangeListener(Register& reg) : m_register(reg)
{
    m_gather.setSingleShot(true);
    m_gather.setInterval(kGatherMs);
    connect(&m_gather, &QTimer::timeout, this, &ChangeListener::react);
    m_watch.setInterval(kWatchMs);
    connect(&m_watch, &QTimer::timeout, this, &ChangeListener::watch);
}

ChangeListener::~ChangeListener()
{
    stop();
}

void ChangeListener::start()
{
    m_wanted = true;
    if (!m_watch.isActive())
        m_watch.start();
    if (!m_listening)
        listen();
}

void ChangeListener::stop()
{
    m_wanted = false;
    m_watch.stop();
    m_gather.stop();
    m_parts = m_types = false;
    m_listening = false;
    m_db.close();
}

bool ChangeListener::listen()
{
    m_sinceTry.start();
    m_db.close();
    bool ok = m_register.connect(m_db, false).ok() || m_db.isOpen();
    QSqlDriver* driver = ok ? m_db.connection().driver() : nullptr;
    ok = driver && driver->subscribeToNotification(kPartsChannel) &&
         driver->subscribeToNotification(kTypesChannel);
    if (!ok) {
        m_db.close();
        m_retryMs = std::clamp(m_retryMs * 2, kWatchMs, kLongestRetryMs);
        return false;
    }
    connect(driver, &QSqlDriver::notification, this, &ChangeListener::onNotification);
    m_retryMs = 0;
    m_listening = true;
    if (std::exchange(m_everListened, true)) {
        // Whatever changed while nobody listened was not heard.
        m_parts = m_types = true;
        m_gather.start();
    }
    return true;
}

void ChangeListener::watch()
{
    if (!m_wanted)
        return;
    // The driver notices a closed connection when it reads the socket: no statement is sent
    // to look, so a slow server does not hold the window up every second.
    if (m_listening && m_db.isOpen())
        return;
    if (m_listening) {
        m_listening = false;
        m_db.close();
        m_retryMs = 0;
    }
    if (m_retryMs == 0 || m_sinceTry.elapsed() >= m_retryMs)
        listen();
}

void ChangeListener::onNotification(const QString& channel, QSqlDriver::NotificationSource,
                                    const QVariant& payload)
{
    ++m_heard;
    // "number:process"; an announcement without the process (triggers of an earlier build) is
    // taken as another computer's.
    const QString text = payload.toString();
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    bool known = false;
    const qint64 process = colon >= 0 ? QStringView(text).mid(colon + 1).toLongLong(&known) : 0;
    if (known && m_register.isOwnSession(process))
        return;
    if (channel == kPartsChannel)
        m_parts = true;
    else if (channel == kTypesChannel)
        m_types = true;
    else
        return;
    if (!m_gather.isActive())
        m_gather.start();
}

void ChangeListener::react()
{
    const bool parts = std::exchange(m_parts, false);
    const bool types = std::exchange(m_types, false);
    if (parts)
        emit partsChanged();
    if (types)
        emit packageTypesChanged();
}

} // namespace tarvik

#include "store/register/ServerAddress.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace tarvik {
namespace {

const char* const kSettingsKey = "register/server";

const QStringList& sslModes()
{
    static const QStringList modes = {
        QStringLiteral("disable"), QStringLiteral("allow"),     QStringLiteral("prefer"),
        QStringLiteral("require"), QStringLiteral("verify-ca"), QStringLiteral("verify-full"),
    };
    return modes;
}

QString decoded(const QString& text)
{
    return QUrl::fromPercentEncoding(text.toUtf8());
}

QString encoded(const QString& text, const char* keep = "")
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text, keep));
}

ParsedServerAddress refused(const QString& why)
{
    return {std::nullopt, why};
}

std::optional<int> portOf(const QString& text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > 65535 || text.startsWith(QLatin1Char('+')))
        return std::nullopt;
    return port;
}

// Splits "HOST[:PORT]" or "[IPv6][:PORT]".
bool readHostAndPort(const QString& text, ServerAddress* address, QString* error)
{
    QString portText;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0) {
            *error = QStringLiteral("в адресе сервера не закрыта скобка после IPv6-адреса");
            return false;
        }
        address->host = decoded(text.mid(1, close - 1));
        const QString after = text.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(QLatin1Char(':'))) {
            *error = QStringLiteral("после IPv6-адреса в скобках может стоять только «:ПОРТ»");
            return false;
        }
        portText = after.mid(1);
    } else {
        const qsizetype colons = text.count(QLatin1Char(':'));
        if (colons > 1) {
            *error = QStringLiteral("IPv6-адрес сервера пишут в квадратных скобках: [::1]");
            return false;
        }
        address->host = decoded(text.section(QLatin1Char(':'), 0, 0));
        if (colons == 1)
            portText = text.section(QLatin1Char(':'), 1);
    }
    if (address->host.contains(QLatin1Char(','))) {
        *error =
            QStringLiteral("в адресе указано несколько серверов, а программа работает с одним");
        return false;
    }
    if (!portText.isEmpty() || text.endsWith(QLatin1Char(':'))) {
        const std::optional<int> port = portOf(portText);
        if (!port) {
            *error = QStringLiteral("номер порта «%1» не число от 1 до 65535").arg(portText);
            return false;
        }
        address->port = *port;
    }
    return true;
}

bool readParameter(const QString& pair, ServerAddress* address, QString* error)
{
    const QString name = decoded(pair.section(QLatin1Char('='), 0, 0)).trimmed();
    const QString value = decoded(pair.section(QLatin1Char('='), 1));
    if (name == QLatin1String("sslmode")) {
        if (!sslModes().contains(value)) {
            *error = QStringLiteral("sslmode=%1 не годится: допустимы %2")
                         .arg(value, sslModes().join(QStringLiteral(", ")));
            return false;
        }
        address->sslMode = value;
    } else if (name == QLatin1String("host")) {
        address->socketFolder = value;
    } else if (name == QLatin1String("sslrootcert")) {
        // Qt's driver turns every ";" of the options into a space, so such a path would name
        // another file.
        if (value.contains(QLatin1Char(';'))) {
            *error =
                QStringLiteral("путь sslrootcert=%1 не годится: в нём точка с запятой").arg(value);
            return false;
        }
        address->sslRootCert = value;
    } else if (name == QLatin1String("port")) {
        const std::optional<int> port = portOf(value);
        if (!port) {
            *error = QStringLiteral("номер порта «%1» не число от 1 до 65535").arg(value);
            return false;
        }
        address->port = *port;
    } else {
        *error = QStringLiteral("параметр «%1» в адресе сервера программе неизвестен (она "
                                "понимает sslmode, sslrootcert, host и port)")
                     .arg(name);
        return false;
    }
    return true;
}

QString passwordRefusal(const QString& shown)
{
    return QStringLiteral("Пароль не записывают в адрес сервера (%1): он хранился бы открытым "
                          "текстом в файле настроек. Уберите его из адреса и запишите в файл "
                          "~/.pgpass (или в файл, названный в PGPASSFILE); без него программа "
                          "спросит пароль при запуске.")
        .arg(shown);
}

} // namespace

ParsedServerAddress parseServerAddress(const QString& text)
{
    const QString trimmed = text.trimmed();
    QString rest;
    for (const QLatin1String scheme :
         {QLatin1String("postgresql://"), QLatin1String("postgres://")}) {
        if (trimmed.startsWith(scheme, Qt::CaseInsensitive))
            rest = trimmed.mid(scheme.size());
    }
    if (rest.isNull())
        return refused(QStringLiteral("Адрес сервера должен начинаться с postgresql:// или "
                                      "postgres://."));
    if (rest.contains(QLatin1Char('#')))
        return refused(QStringLiteral("В адресе сервера не бывает знака «#»."));

    const QString query = rest.section(QLatin1Char('?'), 1);
    rest = rest.section(QLatin1Char('?'), 0, 0);
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    const QString authority = slash < 0 ? rest : rest.left(slash);
    const QString path = slash < 0 ? QString() : rest.mid(slash + 1);

    ServerAddress address;
    // The last "@" ends the user part: a password may hold one of its own.
    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    const QString userPart = at < 0 ? QString() : authority.left(at);
    const QString hostPart = authority.mid(at + 1);
    address.user = decoded(userPart.section(QLatin1Char(':'), 0, 0));
    address.database = decoded(path);

    QString error;
    if (!readHostAndPort(hostPart, &address, &error))
        return refused(QStringLiteral("Адрес сервера не читается: %1.").arg(error));
    // A password is refused before any other fault, and its text is never shown.
    const QStringList pairs = query.split(QLatin1Char('&'), Qt::SkipEmptyParts);
    const bool passwordParameter = std::any_of(pairs.begin(), pairs.end(), [](const QString& p) {
        return decoded(p.section(QLatin1Char('='), 0, 0)).trimmed() == QLatin1String("password");
    });
    if (userPart.contains(QLatin1Char(':')) || passwordParameter) {
        return refused(passwordRefusal(address.uri()));
    }
    for (const QString& pair : pairs) {
        if (!readParameter(pair, &address, &error))
            return refused(QStringLiteral("Адрес сервера не читается: %1.").arg(error));
    }
    if (address.database.isEmpty())
        return refused(QStringLiteral("В адресе сервера нет имени базы данных: "
                                      "postgresql://ПОЛЬЗОВАТЕЛЬ@СЕРВЕР/БАЗА."));
    return {address, {}};
}

QString ServerAddress::uri() const
{
    QString text = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        text += encoded(user) + QLatin1Char('@');
    // An IPv6 address keeps its colons inside the brackets; a zone's "%" is encoded.
    text += host.contains(QLatin1Char(':'))
                ? QLatin1Char('[') +
                      QString(host).replace(QLatin1Char('%'), QStringLiteral("%25")) +
                      QLatin1Char(']')
                : encoded(host);
    if (port > 0)
        text += QLatin1Char(':') + QString::number(port);
    text += QLatin1Char('/') + encoded(database);
    QStringList parameters;
    if (!sslMode.isEmpty())
        parameters << QStringLiteral("sslmode=") + sslMode;
    if (!socketFolder.isEmpty())
        parameters << QStringLiteral("host=") + encoded(socketFolder, "/");
    if (!sslRootCert.isEmpty())
        parameters << QStringLiteral("sslrootcert=") + encoded(sslRootCert, "/");
    if (!parameters.isEmpty())
        text += QLatin1Char('?') + parameters.join(QLatin1Char('&'));
    return text;
}

QString ServerAddress::display() const
{
    const QString shownHost =
        effectiveHost().isEmpty() ? QStringLiteral("localhost") : effectiveHost();
    QString text = shownHost.contains(QLatin1Char(':'))
                       ? QLatin1Char('[') + shownHost + QLatin1Char(']')
                       : shownHost;
    if (port > 0)
        text += QLatin1Char(':') + QString::number(port);
    return text + QLatin1Char('/') + database;
}

QString ServerAddress::connectOptions(int connectTimeoutSeconds) const
{
    QStringList options;
    if (!sslMode.isEmpty())
        options << QStringLiteral("sslmode=") + sslMode;
    if (!sslRootCert.isEmpty())
        options << QStringLiteral("sslrootcert='%1'")
                       .arg(QString(sslRootCert)
                                .replace(QLatin1String("\\"), QLatin1String("\\\\"))
                                .replace(QLatin1String("'"), QLatin1String("\\'")));
    options << QStringLiteral("connect_timeout=%1").arg(connectTimeoutSeconds);
    options << QStringLiteral("application_name=tarvik");
    // A server gone without a word (a cable pulled, a machine switched off) would otherwise be
    // noticed only when TCP gives up, after many minutes: probes after 10 idle seconds, three
    // unanswered 5 s apart, and at most 25 s for data the server never acknowledges, so the
    // next action reconnects or says the server is gone within half a minute.
    options << QStringLiteral("keepalives=1") << QStringLiteral("keepalives_idle=10")
            << QStringLiteral("keepalives_interval=5") << QStringLiteral("keepalives_count=3")
            << QStringLiteral("tcp_user_timeout=25000");
    return options.join(QLatin1Char(';'));
}

void ServerAddress::applyTo(QSqlDatabase& db, int connectTimeoutSeconds) const
{
    db.setHostName(effectiveHost());
    db.setPort(port);
    db.setUserName(user);
    db.setDatabaseName(database);
    db.setConnectOptions(connectOptions(connectTimeoutSeconds));
}

QString serverSettingsPath(const QString& registerPath)
{
    return QFileInfo(registerPath).absolutePath() + QStringLiteral("/tarvik.ini");
}

ServerChoice readServerChoice(const QString& registerPath)
{
    const QString path = serverSettingsPath(registerPath);
    if (!QFileInfo::exists(path))
        return {};
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return {std::nullopt, QStringLiteral("Файл настроек «%1» не читается.").arg(path)};
    const QVariant value = settings.value(QLatin1String(kSettingsKey));
    // An unquoted value with commas comes back as a list.
    const QString text = value.typeId() == QMetaType::QStringList
                             ? value.toStringList().join(QLatin1Char(','))
                             : value.toString();
    if (text.trimmed().isEmpty())
        return {};
    const ParsedServerAddress parsed = parseServerAddress(text);
    if (!parsed.address)
        return {std::nullopt, QStringLiteral("В файле настроек «%1»: %2").arg(path, parsed.error)};
    return {parsed.address, {}};
}

bool writeServerChoice(const QString& registerPath, const ServerAddress& address, QString* error)
{
    const QString path = serverSettingsPath(registerPath);
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(QLatin1String(kSettingsKey), address.uri());
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return true;
    if (error)
        *error = QStringLiteral("файл настроек «%1» не записан").arg(path);
    return false;
}

bool ServerAddress::openOn(QSqlDatabase& db, const QString& password) const
{
    applyTo(db);
    if (!password.isEmpty())
        db.setPassword(password);
    const bool opened = db.open();
    db.setPassword(QString());
    return opened;
}

QString ServerAddress::driverMissing() const
{
    return QStringLiteral("Драйвер PostgreSQL для Qt не установлен (в Debian — пакет "
                          "libqt6sql6-psql): сервер %1 недоступен.")
        .arg(display());
}

} // namespace tarvik

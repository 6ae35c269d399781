#include "fleet/PostgresAddress.h"

#include "fleet/StoreFailure.h"

#include <QByteArray>
#include <QUrl>

namespace fleet {

namespace {

// Longer than any address an operator types: anything longer is refused unread.
constexpr int MaxLocationLength = 1024;
// PostgreSQL's own limit for a name (NAMEDATALEN - 1).
constexpr int MaxNameBytes = 63;

const QString schemes[] = { QStringLiteral("postgresql://"), QStringLiteral("postgres://") };

QString afterScheme(const QString& location)
{
    for (const QString& scheme : schemes)
        if (location.startsWith(scheme, Qt::CaseInsensitive))
            return location.mid(scheme.size());
    return QString();
}

// The address as it may be shown: a password in the user part or among the
// options is left out.
QString withoutSecrets(const QString& location)
{
    QString shown = location.left(MaxLocationLength);
    const int schemeEnd = shown.indexOf(QStringLiteral("://"));
    const int at = shown.indexOf(QLatin1Char('@'));
    const int slash = shown.indexOf(QLatin1Char('/'), schemeEnd + 3);
    if (schemeEnd >= 0 && at > schemeEnd && (slash < 0 || at < slash)) {
        const int colon = shown.indexOf(QLatin1Char(':'), schemeEnd + 3);
        if (colon >= 0 && colon < at)
            shown.remove(colon, at - colon);
    }
    const int question = shown.indexOf(QLatin1Char('?'));
    if (question >= 0) {
        QStringList kept;
        for (const QString& pair : shown.mid(question + 1).split(QLatin1Char('&')))
            if (!pair.startsWith(QStringLiteral("password"), Qt::CaseInsensitive))
                kept << pair;
        shown = shown.left(question) + (kept.isEmpty() ? QString() : QStringLiteral("?") + kept.join(QLatin1Char('&')));
    }
    return shown;
}

[[noreturn]] void refuse(const QString& location, const QString& why)
{
    throw failure::other(withoutSecrets(location), QStringLiteral("indirizzo non valido, %1").arg(why));
}

QString decoded(const QString& location, const QString& part, const char* what)
{
    const QByteArray bytes = QByteArray::fromPercentEncoding(part.toUtf8());
    const QString text = QString::fromUtf8(bytes);
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            refuse(location, QStringLiteral("%1 contiene caratteri di controllo").arg(QLatin1String(what)));
    return text;
}

int portFrom(const QString& location, const QString& text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        refuse(location, QStringLiteral("la porta \"%1\" non è un numero da 1 a 65535").arg(text.left(16)));
    return port;
}

void setHostPort(PostgresAddress& address, const QString& location, const QString& hostPort)
{
    QString host = hostPort, port;
    if (hostPort.startsWith(QLatin1Char('['))) {
        const int close = hostPort.indexOf(QLatin1Char(']'));
        if (close < 0)
            refuse(location, QStringLiteral("manca la \"]\" dell'indirizzo IPv6"));
        host = hostPort.mid(1, close - 1);
        const QString rest = hostPort.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            refuse(location, QStringLiteral("dopo l'indirizzo IPv6 può seguire solo \":porta\""));
        port = rest.mid(1);
    } else if (const int colon = hostPort.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        host = hostPort.left(colon);
        port = hostPort.mid(colon + 1);
    }
    address.host = decoded(location, host, "il server");
    if (!port.isEmpty())
        address.port = portFrom(location, port);
}

void setOption(PostgresAddress& address, const QString& location, const QString& key, const QString& value)
{
    if (key == QLatin1String("host"))
        address.host = value;
    else if (key == QLatin1String("port"))
        address.port = portFrom(location, value);
    else if (key == QLatin1String("user"))
        address.user = value;
    else if (key == QLatin1String("dbname"))
        address.database = value;
    else if (key == QLatin1String("sslmode")) {
        static const QStringList modes = { QStringLiteral("disable"), QStringLiteral("allow"), QStringLiteral("prefer"),
                                           QStringLiteral("require"), QStringLiteral("verify-ca"),
                                           QStringLiteral("verify-full") };
        if (!modes.contains(value))
            refuse(location, QStringLiteral("sslmode \"%1\" sconosciuto").arg(value.left(16)));
        address.sslMode = value;
    } else if (key == QLatin1String("connect_timeout")) {
        bool ok = false;
        address.connectTimeout = value.toInt(&ok);
        if (!ok || address.connectTimeout < 1 || address.connectTimeout > 3600)
            refuse(location, QStringLiteral("connect_timeout va da 1 a 3600 secondi"));
    } else if (key == QLatin1String("password"))
        refuse(location, QStringLiteral("la password non va scritta nell'indirizzo (si legge da ~/.pgpass o da PGPASSWORD)"));
    else
        refuse(location, QStringLiteral("opzione \"%1\" sconosciuta (host, port, user, dbname, sslmode, connect_timeout)")
                             .arg(key.left(32)));
}

} // namespace

bool isPostgresLocation(const QString& location)
{
    return !afterScheme(location).isNull();
}

PostgresAddress parsePostgresAddress(const QString& location)
{
    if (location.size() > MaxLocationLength)
        refuse(location, QStringLiteral("più lungo di %1 caratteri").arg(MaxLocationLength));
    QString rest = afterScheme(location);
    PostgresAddress address;
    QString query;
    if (const int question = rest.indexOf(QLatin1Char('?')); question >= 0) {
        query = rest.mid(question + 1);
        rest = rest.left(question);
    }
    const int slash = rest.indexOf(QLatin1Char('/'));
    const QString authority = slash < 0 ? rest : rest.left(slash);
    address.database = slash < 0 ? QString() : decoded(location, rest.mid(slash + 1), "il nome del database");
    QString hostPort = authority;
    if (const int at = authority.lastIndexOf(QLatin1Char('@')); at >= 0) {
        const QString userInfo = authority.left(at);
        if (userInfo.contains(QLatin1Char(':')))
            refuse(location, QStringLiteral("la password non va scritta nell'indirizzo (si legge da ~/.pgpass o da PGPASSWORD)"));
        address.user = decoded(location, userInfo, "l'utente");
        hostPort = authority.mid(at + 1);
    }
    setHostPort(address, location, hostPort);
    if (!query.isEmpty())
        for (const QString& pair : query.split(QLatin1Char('&'))) {
            const int equals = pair.indexOf(QLatin1Char('='));
            if (equals <= 0)
                refuse(location, QStringLiteral("opzione \"%1\" senza valore").arg(pair.left(32)));
            setOption(address, location, pair.left(equals), decoded(location, pair.mid(equals + 1), "un'opzione"));
        }
    if (address.database.isEmpty())
        refuse(location, QStringLiteral("manca il nome del database (postgresql://utente@server/database)"));
    if (address.database.contains(QLatin1Char('/')))
        refuse(location, QStringLiteral("il nome del database contiene \"/\""));
    if (address.database.toUtf8().size() > MaxNameBytes || address.user.toUtf8().size() > MaxNameBytes)
        refuse(location, QStringLiteral("un nome supera i %1 byte").arg(MaxNameBytes));
    return address;
}

QString PostgresAddress::display() const
{
    const auto part = [](const QString& text) { return QString::fromLatin1(QUrl::toPercentEncoding(text)); };
    QString shown = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        shown += part(user) + QLatin1Char('@');
    const bool socket = host.startsWith(QLatin1Char('/'));
    if (!socket)
        shown += host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : part(host);
    if (port != 0 && !socket)
        shown += QLatin1Char(':') + QString::number(port);
    shown += QLatin1Char('/') + part(database);
    if (socket)
        shown += QStringLiteral("?host=") + host + (port != 0 ? QStringLiteral("&port=%1").arg(port) : QString());
    return shown;
}

QString PostgresAddress::connectOptions() const
{
    QStringList options = { QStringLiteral("connect_timeout=%1").arg(connectTimeout) };
    // The server's list of connections names the program, or what PGAPPNAME
    // says (a machine's name, to tell the runners of a shared run apart).
    if (qEnvironmentVariableIsEmpty("PGAPPNAME"))
        options << QStringLiteral("application_name=pradix");
    // A server or a network that vanishes mid-run is noticed within a minute
    // instead of at the next write.
    if (!host.startsWith(QLatin1Char('/')) && !host.isEmpty())
        options << QStringLiteral("keepalives_idle=30") << QStringLiteral("keepalives_interval=10")
                << QStringLiteral("keepalives_count=3");
    if (!sslMode.isEmpty())
        options << QStringLiteral("sslmode=") + sslMode;
    return options.join(QLatin1Char(';'));
}

} // namespace fleet

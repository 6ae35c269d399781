#include "fleetui/FleetSetup.h"

#include "book/AddressBookFile.h"
#include "fleet/FleetStore.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>

namespace fleetui {

namespace {

// A configuration is a few lines; anything longer was named by mistake.
constexpr qint64 MaxSetupBytes = 64 * 1024;

QString homeRelative(const QString& path)
{
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return path;
    return QDir::home().filePath(path);
}

} // namespace

QString fleetSetupPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/pradix/audit.conf");
}

QString missingPortsMessage()
{
    return QStringLiteral("Nessuna porta dell'unità di chiamata: va indicata come \"ports = com1\" in \"%1\".").arg(fleetSetupPath());
}

FleetSetup readFleetSetup()
{
    FleetSetup setup;
    setup.store = fleet::defaultStorePath();
    setup.book = AddressBookFile::DefaultName;
    QFile file(fleetSetupPath());
    if (!file.exists())
        return setup;
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxSetupBytes) {
        setup.problem = QStringLiteral("La configurazione \"%1\" non si è potuta leggere.").arg(file.fileName());
        return setup;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const int equals = line.indexOf(QLatin1Char('='));
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (equals < 0 || value.isEmpty()) {
            setup.problem = QStringLiteral("La riga %1 di \"%2\" non è \"chiave = valore\".").arg(i + 1).arg(file.fileName());
            continue;
        }
        if (key == QLatin1String("store")) {
            setup.store = homeRelative(value);
        } else if (key == QLatin1String("book")) {
            setup.book = homeRelative(value);
        } else if (key == QLatin1String("prefix")) {
            setup.prefix = value;
        } else if (key == QLatin1String("ports")) {
            setup.ports.clear();
            setup.ports = value.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
        } else if (key == QLatin1String("timeout")) {
            bool number = false;
            const int seconds = value.toInt(&number);
            if (number && seconds > 0 && seconds <= 600)
                setup.silenceMs = seconds * 1000;
        }
    }
    return setup;
}

} // namespace fleetui

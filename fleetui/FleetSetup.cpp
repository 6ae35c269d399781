#include "fleetui/FleetSetup.h"

#include "book/AddressBookFile.h"
#include "fleet/AuditConfig.h"
#include "fleet/FleetStore.h"

#include <QDir>
#include <QFile>

namespace fleetui {

namespace {

QString homeRelative(const QString& path)
{
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return path;
    return QDir::home().filePath(path);
}

} // namespace

QString fleetSetupPath()
{
    return fleet::auditConfigPath();
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
    if (!file.open(QIODevice::ReadOnly) || file.size() > fleet::MaxAuditConfigBytes) {
        setup.problem = QStringLiteral("La configurazione \"%1\" non si è potuta leggere.").arg(file.fileName());
        return setup;
    }
    // The window takes what it can and says what it could not: the
    // nightly run refuses the same file, and the operator should hear why.
    const fleet::AuditConfig config = fleet::parseAuditConfig(file.read(fleet::MaxAuditConfigBytes));
    if (config.badLine > 0)
        setup.problem = QStringLiteral("\"%1\", riga %2: %3").arg(file.fileName()).arg(config.badLine).arg(config.problem);
    for (const fleet::AuditConfigLine& line : config.lines) {
        const QString& value = line.value;
        if (value.isEmpty())
            continue;
        if (line.key == QLatin1String("store")) {
            setup.store = homeRelative(value);
        } else if (line.key == QLatin1String("book")) {
            setup.book = homeRelative(value);
        } else if (line.key == QLatin1String("prefix")) {
            setup.prefix = value;
        } else if (line.key == QLatin1String("ports")) {
            setup.ports = fleet::auditConfigPorts(value);
        } else if (line.key == QLatin1String("timeout")) {
            bool number = false;
            const int seconds = value.toInt(&number);
            if (number && seconds > 0 && seconds <= 600)
                setup.silenceMs = seconds * 1000;
        }
    }
    return setup;
}

} // namespace fleetui

#include "tool/FleetAccess.h"

namespace tool {

QCommandLineOption storeOption()
{
    return QCommandLineOption(QStringLiteral("store"),
                              QStringLiteral("l'archivio dei controlli: un file, o un server PostgreSQL come "
                                             "postgresql://utente@server/database (predefinito: %1)")
                                  .arg(fleet::defaultStorePath()),
                              QStringLiteral("ARCHIVIO"));
}

QString storeLocation(const CommandParser& parser)
{
    if (!parser.isSet(QStringLiteral("store")))
        return fleet::defaultStorePath();
    const QString location = parser.value(QStringLiteral("store"));
    if (location.isEmpty())
        parser.usageError(QStringLiteral("--store vuoto: serve il file dell'archivio."));
    return location;
}

std::unique_ptr<fleet::FleetStore> openFleetStore(const CommandParser& parser, fleet::OpenMode mode)
{
    const QString location = storeLocation(parser);
    try {
        return fleet::openStore(location, mode);
    } catch (const fleet::StoreError& error) {
        failOnStore(error);
    }
}

void failOnStore(const fleet::StoreError& error)
{
    fail(FileError, error.message);
}

} // namespace tool

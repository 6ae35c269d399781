// audit store copy: a fleet store moved whole from one place to another (a
// file of this machine to a server that several machines share, and back).

#include "tool/Commands.h"
#include "tool/FleetAccess.h"

#include "fleet/StoreCopy.h"

namespace tool {

int runAuditStoreCopy(const Invocation& invocation)
{
    CommandParser parser(invocation,
                         QStringLiteral("Copia un archivio dei controlli intero in un altro, vuoto: da un file a un\n"
                                        "server PostgreSQL (postgresql://utente@server/database) o viceversa. La\n"
                                        "copia è registrata solo se la destinazione ha, tabella per tabella, le\n"
                                        "stesse righe e lo stesso contenuto della partenza; altrimenti la\n"
                                        "destinazione resta com'era. La password del server si legge da ~/.pgpass\n"
                                        "o da PGPASSWORD."));
    parser.addOption(QCommandLineOption(QStringLiteral("from"), QStringLiteral("l'archivio da copiare"),
                                        QStringLiteral("ARCHIVIO")));
    parser.addOption(QCommandLineOption(QStringLiteral("to"), QStringLiteral("l'archivio vuoto in cui copiarlo"),
                                        QStringLiteral("ARCHIVIO")));
    if (!parser.parse())
        return Success;
    parser.require(QStringLiteral("from"));
    parser.require(QStringLiteral("to"));
    const QString from = parser.value(QStringLiteral("from"));
    const QString to = parser.value(QStringLiteral("to"));
    if (from.isEmpty() || to.isEmpty())
        parser.usageError(QStringLiteral("--from e --to vogliono un archivio."));
    std::vector<fleet::CopiedTable> copied;
    try {
        copied = fleet::copyStore(from, to);
    } catch (const fleet::StoreError& error) {
        failOnStore(error);
    }
    if (!parser.quiet())
        for (const fleet::CopiedTable& table : copied)
            out(QStringLiteral("%1: %2 righe copiate e verificate\n").arg(table.name).arg(table.rows));
    return Success;
}

} // namespace tool

// audit report, audit status, history and history show: what the fleet
// store knows, read and never written.

#include "tool/BookAccess.h"
#include "tool/Commands.h"
#include "tool/FleetAccess.h"
#include "tool/TableIo.h"
#include "tool/TableText.h"

#include "fleet/FleetReport.h"
#include "fleet/FleetStatus.h"
#include "tables/TableFile.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <limits>
#include <optional>

namespace tool {

namespace {

// A store call that reads; a store that fails meanwhile ends the command as
// one that cannot be opened does (exit 5).
template<typename Step>
auto reading(Step step) -> decltype(step())
{
    try {
        return step();
    } catch (const fleet::StoreError& error) {
        failOnStore(error);
    }
}

// A whole number from 1 to `most`, given to option `name`.
qint64 positiveNumber(const CommandParser& parser, const QString& text, const QString& what, qint64 most)
{
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (!ok || n < 1 || n > most)
        parser.usageError(
            QStringLiteral("%1 \"%2\" non è un numero da 1 a %3.").arg(what, terminalText(text), QString::number(most)));
    return n;
}

// A date as the text output shows it: local time, "-" for none.
QString shownDate(const QDateTime& at)
{
    return at.isValid() ? fleet::localText(at) : QStringLiteral("-");
}

// ---- history

const QCommandLineOption HistoryCardOption(QStringLiteral("card"), QStringLiteral("la centralina del numero della scheda N della rubrica"),
                                           QStringLiteral("N"));
const QCommandLineOption HistoryNumberOption(QStringLiteral("number"), QStringLiteral("la centralina di questo numero"),
                                             QStringLiteral("CIFRE"));

// The dialled number the command names: given, or the card's as the book has it now.
QString historyNumber(const CommandParser& parser)
{
    if (!cardOrNumber(parser)) {
        const QString number = parser.value(HistoryNumberOption.names().first());
        if (number.isEmpty() || number.size() > 64)
            parser.usageError(QStringLiteral("il numero \"%1\" non è valido.").arg(terminalText(number)));
        return number;
    }
    const QString card = parser.value(HistoryCardOption.names().first());
    const QString number = readBookCard(bookPath(parser), card, parser.quiet()).text(CustomerCard::Field::Numero);
    if (number.isEmpty())
        fail(FileError, QStringLiteral("la scheda %1 non ha un numero telefonico: la sua centralina non è mai chiamata.").arg(card));
    return number;
}

QByteArray historyJson(const QString& number, const std::optional<fleet::BoxState>& box,
                       const std::vector<fleet::Version>& versions, const std::vector<fleet::HistoryEntry>& sessions)
{
    QJsonObject root;
    root.insert(QStringLiteral("number"), number);
    root.insert(QStringLiteral("box"), box ? QJsonValue(fleet::boxStateJson(*box)) : QJsonValue());
    QJsonArray v;
    for (const fleet::Version& version : versions) {
        QJsonObject o;
        o.insert(QStringLiteral("version"), version.id);
        o.insert(QStringLiteral("first_seen"), fleet::utcValue(version.firstSeen));
        o.insert(QStringLiteral("last_seen"), fleet::utcValue(version.lastSeen));
        o.insert(QStringLiteral("times_seen"), version.timesSeen);
        v.append(o);
    }
    root.insert(QStringLiteral("versions"), v);
    QJsonArray s;
    for (const fleet::HistoryEntry& h : sessions) {
        QJsonObject o;
        o.insert(QStringLiteral("run"), h.runId);
        o.insert(QStringLiteral("started"), fleet::utcValue(h.started));
        o.insert(QStringLiteral("ended"), fleet::utcValue(h.ended));
        o.insert(QStringLiteral("outcome"), fleet::outcomeWord(h.outcome));
        o.insert(QStringLiteral("port"), h.port);
        o.insert(QStringLiteral("host"), h.host);
        o.insert(QStringLiteral("detail"), h.detail);
        o.insert(QStringLiteral("version"), h.versionId != 0 ? QJsonValue(h.versionId) : QJsonValue());
        o.insert(QStringLiteral("differences"), fleet::differencesJson(h.differences));
        s.append(o);
    }
    root.insert(QStringLiteral("sessions"), s);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QString historyText(const QString& number, const std::optional<fleet::BoxState>& box,
                    const std::vector<fleet::Version>& versions, const std::vector<fleet::HistoryEntry>& sessions)
{
    QString text = QStringLiteral("Centralina del numero %1").arg(terminalText(number));
    if (box)
        text += QStringLiteral(" (scheda %1, %2 %3)").arg(box->card).arg(terminalText(box->surname), terminalText(box->name));
    text += QLatin1Char('\n');
    if (box) {
        text += QStringLiteral("Ultimo esito: %1, il %2\n")
                    .arg(box->lastOutcome ? fleet::outcomeWord(*box->lastOutcome) : QStringLiteral("-"), shownDate(box->lastAudit));
        text += QStringLiteral("Ultima lettura riuscita: %1\n").arg(shownDate(box->lastSuccess));
        text += QStringLiteral("Tabella attuale vista dal: %1\n").arg(shownDate(box->lastChange));
        if (box->failingSince.isValid())
            text += QStringLiteral("Senza risposta valida dal %1, in %2 controlli di fila\n")
                        .arg(shownDate(box->failingSince))
                        .arg(box->failuresInRow);
    } else if (sessions.empty()) {
        text += QStringLiteral("L'archivio non ha nessun controllo di questa centralina.\n");
    }
    text += QStringLiteral("\nVersioni (%1):\n").arg(versions.size());
    for (const fleet::Version& v : versions)
        text += QStringLiteral("  %1  vista dal %2 al %3, %4 volt%5\n")
                    .arg(v.id, 6)
                    .arg(shownDate(v.firstSeen), shownDate(v.lastSeen))
                    .arg(v.timesSeen)
                    .arg(v.timesSeen == 1 ? QStringLiteral("a") : QStringLiteral("e"));
    text += QStringLiteral("\nControlli (%1):\n").arg(sessions.size());
    for (const fleet::HistoryEntry& h : sessions) {
        QString line = QStringLiteral("  %1  %2  controllo %3, porta %4")
                           .arg(shownDate(h.ended))
                           .arg(fleet::outcomeWord(h.outcome), -15)
                           .arg(h.runId)
                           .arg(terminalText(h.port));
        if (h.versionId != 0)
            line += QStringLiteral(", versione %1").arg(h.versionId);
        if (!h.detail.isEmpty())
            line += QStringLiteral(": ") + terminalText(h.detail);
        text += line + QLatin1Char('\n');
        for (const fleet::FieldDifference& d : h.differences)
            text += QStringLiteral("      %1\n").arg(fleet::differenceText(d));
    }
    return text;
}

int runHistoryShow(Invocation invocation)
{
    invocation.path = QStringLiteral("history show");
    invocation.synopsis = QStringLiteral("history show VERSIONE -o FILE.dat [--store FILE]");
    CommandParser parser(invocation, QStringLiteral("Scrive una tabella dell'archivio (una versione, come la elenca \"history\") come\n"
                                                    "file di tabella, che \"Copia da file\" carica: il modo di rimettere una\n"
                                                    "centralina com'era in una data notte."));
    parser.addOption(storeOption());
    parser.addOption(outputOption(QStringLiteral("il file di tabella da scrivere")));
    parser.expectArguments(1, 1);
    if (!parser.parse())
        return Success;
    parser.require(QStringLiteral("o"));
    const qint64 id = positiveNumber(parser, parser.positional().first(), QStringLiteral("la versione"),
                                     std::numeric_limits<qint64>::max());
    const auto store = openFleetStore(parser, fleet::OpenMode::Read);
    const std::optional<fleet::Version> version = reading([&] { return store->version(id); });
    if (!version)
        fail(FileError, QStringLiteral("l'archivio \"%1\" non ha la versione %2.").arg(store->location(), QString::number(id)));
    // The stored bytes must be a whole table file, as the read made it: put
    // into a grid and written back by the program's own writer, they come out
    // the same, or the stored copy is damaged.
    TableGrid grid;
    QByteArray bytes = version->table;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    if (editor::readTableLines(buffer, grid) != editor::TableFileLines || editor::tableFileBytes(grid) != version->table)
        fail(FileError, QStringLiteral("la versione %1 nell'archivio \"%2\" non è una tabella intera: non è stata scritta.")
                            .arg(id)
                            .arg(store->location()));
    saveTable(grid, parser.value(QStringLiteral("o")));
    note(parser.quiet(), QStringLiteral("versione %1 della centralina %2 (vista dal %3 al %4) scritta in \"%5\".")
                             .arg(id)
                             .arg(terminalText(version->number), shownDate(version->firstSeen), shownDate(version->lastSeen),
                                  parser.value(QStringLiteral("o"))));
    return Success;
}

// ---- audit status

// The monitoring check: its codes are the monitoring convention, so every
// failure of its own, a usage error included, is 3 ("nothing known") and the
// line still goes to standard output, where the check's caller reads it.
int statusUnknown(bool json, const QString& problem, int maxAgeDays)
{
    const fleet::FleetStatus status = fleet::unknownStatus(problem, maxAgeDays);
    if (json)
        outBytes(fleet::statusJson(status));
    else
        out(fleet::statusLine(status) + QLatin1Char('\n'));
    return int(fleet::StatusLevel::Unknown);
}

} // namespace

int runAuditStatus(const Invocation& invocation)
{
    CommandParser parser(invocation,
                         QStringLiteral("Lo stato delle centraline in una riga, per il controllo di un sistema di\n"
                                        "monitoraggio; con --json i conteggi e le centraline da guardare.\n"
                                        "Codici di uscita (quelli dei controlli di monitoraggio, diversi dagli altri comandi):\n"
                                        "  0  ogni centralina controllata entro --max-age giorni e uguale\n"
                                        "  1  qualche centralina diversa, senza riepilogo, non raggiunta o in ritardo\n"
                                        "  2  qualche centralina non raggiunta o rifiutata negli ultimi 3 controlli\n"
                                        "  3  archivio assente o illeggibile, nessun controllo, uso errato"));
    parser.addOption(storeOption());
    parser.addOption(jsonOption());
    parser.addOption(QCommandLineOption(QStringLiteral("max-age"),
                                        QStringLiteral("giorni entro cui ogni centralina va controllata (predefinito: %1)")
                                            .arg(fleet::DefaultMaxAgeDays),
                                        QStringLiteral("GIORNI")));
    int maxAge = fleet::DefaultMaxAgeDays;
    bool json = false;
    try {
        if (!parser.parse())
            return Success;
        json = parser.isSet(QStringLiteral("json"));
        if (parser.isSet(QStringLiteral("max-age")))
            maxAge = int(positiveNumber(parser, parser.value(QStringLiteral("max-age")), QStringLiteral("--max-age"), 3650));
        const auto store = fleet::openStore(storeLocation(parser), fleet::OpenMode::Read);
        const std::vector<fleet::BoxState> boxes = store->boxes();
        const std::optional<fleet::RunInfo> last = store->lastRun();
        const fleet::FleetStatus status = fleet::fleetStatus(boxes, last, QDateTime::currentDateTimeUtc(), maxAge);
        if (json)
            outBytes(fleet::statusJson(status));
        else
            out(fleet::statusLine(status) + QLatin1Char('\n'));
        return int(status.level);
    } catch (const fleet::StoreError& error) {
        return statusUnknown(json, error.message, maxAge);
    } catch (const Failure& failure) {
        if (failure.code != UsageError)
            throw;
        note(false, failure.message);
        return statusUnknown(json, failure.message, maxAge);
    }
}

int runAuditReport(const Invocation& invocation)
{
    CommandParser parser(invocation,
                         QStringLiteral("Il rapporto di un controllo (il più recente, o --run ID): una riga per cliente,\n"
                                        "prima quelli da guardare. --html FILE: una pagina che un browser apre anche\n"
                                        "senza rete, leggibile sul telefono; --csv FILE: RFC 4180, UTF-8; --json: sullo\n"
                                        "standard output. Le date del JSON sono in UTC, le altre nell'ora locale."));
    parser.addOption(storeOption());
    parser.addOption(QCommandLineOption(QStringLiteral("run"), QStringLiteral("il controllo (predefinito: il più recente)"),
                                        QStringLiteral("ID")));
    parser.addOption(QCommandLineOption(QStringLiteral("html"), QStringLiteral("scrive il rapporto come pagina HTML"),
                                        QStringLiteral("FILE")));
    parser.addOption(QCommandLineOption(QStringLiteral("csv"), QStringLiteral("scrive il rapporto in CSV"), QStringLiteral("FILE")));
    parser.addOption(jsonOption());
    if (!parser.parse())
        return Success;
    const int forms = int(parser.isSet(QStringLiteral("html"))) + int(parser.isSet(QStringLiteral("csv")))
        + int(parser.isSet(QStringLiteral("json")));
    if (forms != 1)
        parser.usageError(QStringLiteral("serve una forma del rapporto: --html FILE, --csv FILE oppure --json."));
    std::optional<qint64> runId;
    if (parser.isSet(QStringLiteral("run")))
        runId = positiveNumber(parser, parser.value(QStringLiteral("run")), QStringLiteral("il controllo"),
                               std::numeric_limits<qint64>::max());
    const auto store = openFleetStore(parser, fleet::OpenMode::Read);
    fleet::RunReport report;
    reading([&] {
        const std::optional<fleet::RunInfo> run = runId ? store->run(*runId) : store->lastRun();
        if (!run)
            fail(FileError, runId ? QStringLiteral("l'archivio \"%1\" non ha il controllo %2.").arg(store->location(), QString::number(*runId))
                                  : QStringLiteral("l'archivio \"%1\" non ha ancora nessun controllo.").arg(store->location()));
        report.run = *run;
        report.rows = store->runRows(run->id);
    });
    if (parser.isSet(QStringLiteral("html")))
        writeFileWhole(parser.value(QStringLiteral("html")), fleet::reportHtml(report, QDateTime::currentDateTimeUtc()));
    else if (parser.isSet(QStringLiteral("csv")))
        writeFileWhole(parser.value(QStringLiteral("csv")), fleet::reportCsv(report));
    else
        outBytes(fleet::reportJson(report));
    return Success;
}

int runHistory(const Invocation& invocation)
{
    if (invocation.arguments.value(0) == QLatin1String("show")) {
        Invocation rest = invocation;
        rest.arguments.removeFirst();
        return runHistoryShow(rest);
    }
    CommandParser parser(invocation, QStringLiteral("Le versioni della tabella di una centralina (ogni tabella diversa una volta,\n"
                                                    "con le date in cui è stata vista) e i suoi controlli con gli esiti.\n"
                                                    "Una centralina è il suo numero: --card N prende quello della scheda.\n"
                                                    "\"history show VERSIONE -o FILE.dat\" scrive una versione come file di tabella."));
    parser.addOption(storeOption());
    parser.addOption(HistoryNumberOption);
    parser.addOption(HistoryCardOption);
    parser.addOption(bookOption());
    parser.addOption(jsonOption());
    if (!parser.parse())
        return Success;
    const QString number = historyNumber(parser);
    const auto store = openFleetStore(parser, fleet::OpenMode::Read);
    const std::optional<fleet::BoxState> box = reading([&] { return store->box(number); });
    const std::vector<fleet::Version> versions = reading([&] { return store->versions(number); });
    const std::vector<fleet::HistoryEntry> sessions = reading([&] { return store->history(number); });
    if (parser.isSet(QStringLiteral("json")))
        outBytes(historyJson(number, box, versions, sessions));
    else
        out(historyText(number, box, versions, sessions));
    return Success;
}

} // namespace tool

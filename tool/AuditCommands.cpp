// audit run: every customer of the address book called through the dialling
// units, the box's table read (never written), compared with the card and
// kept in the fleet store.

#include "tool/BookAccess.h"
#include "tool/BoxLink.h"
#include "tool/Commands.h"
#include "tool/FleetAccess.h"
#include "tool/StopSignals.h"

#include "device/Frames.h"
#include "device/PrivateFolder.h"
#include "fleet/AuditConfig.h"
#include "fleet/AuditRun.h"
#include "serial/CommInt.h"
#include "session/StopFlag.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <numeric>
#include <optional>
#include <set>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tool {

namespace {

constexpr int DefaultRounds = 2;
constexpr int MaxRounds = 20;
// Long enough for a busy line or an exchange that dropped a call to clear.
constexpr int RoundPauseMs = 60000;
// An --until further ahead than this is taken for an hour that has just
// passed, not for one of the next day: a run started late (a night missed)
// must not call on through the day.
constexpr int UntilHorizonHours = 12;
constexpr int MaxPorts = 16;
constexpr int MaxCardsText = 4096;

const QString PortName = QStringLiteral("port");
const QCommandLineOption CardsOption(QStringLiteral("cards"), QStringLiteral("solo queste schede, per esempio 1-40,52"),
                                     QStringLiteral("ELENCO"));
const QCommandLineOption PrefixOption(QStringLiteral("prefix"),
                                      QStringLiteral("prefisso per la linea esterna, composto prima di ogni numero"),
                                      QStringLiteral("CIFRE"));
const QCommandLineOption UntilOption(QStringLiteral("until"),
                                     QStringLiteral("nessuna chiamata inizia da quest'ora (ora locale) in poi"),
                                     QStringLiteral("HH:MM"));
const QCommandLineOption RoundsOption(QStringLiteral("rounds"),
                                      QStringLiteral("altri giri, dopo un minuto, per le centraline non raggiunte "
                                                     "(predefinito %1)").arg(DefaultRounds),
                                      QStringLiteral("N"));
const QCommandLineOption OnlyFailedOption(QStringLiteral("only-failed"),
                                          QStringLiteral("solo i clienti il cui ultimo esito non è uguale né diversa"));
const QCommandLineOption ResumeOption(QStringLiteral("resume"), QStringLiteral("riprende l'ultimo controllo interrotto"));
const QCommandLineOption JoinOption(QStringLiteral("join"),
                                    QStringLiteral("si unisce al controllo in corso su un archivio condiviso (un server "
                                                   "PostgreSQL), o lo avvia: ogni cliente è chiamato da una macchina sola"));
// How long a runner of a shared run holds a customer it claimed: well past a
// call's length, so only a runner gone (killed, cut off) loses one.
constexpr int LeaseMs = 5 * 60 * 1000;
const QCommandLineOption ConfigOption(QStringLiteral("config"),
                                      QStringLiteral("il file di configurazione (predefinito: audit.conf in "
                                                     "$XDG_CONFIG_HOME/pradix, se c'è)"),
                                      QStringLiteral("FILE"));

// What a run is told, from the configuration file and then the command line.
struct AuditOptions
{
    QStringList ports;
    QString book = AddressBookFile::DefaultName;
    QString prefix;
    QString until;
    int rounds = DefaultRounds;
    QString store;
    int silenceMs = 0;
    bool join = false; // "join = yes": the night shared with other machines, as --join
};

void checkPrefix(const CommandParser& parser, const QString& prefix)
{
    const QString problem = prefix.isEmpty() ? QString() : dialProblem(prefix);
    if (!problem.isEmpty())
        parser.usageError(QStringLiteral("il prefisso \"%1\" %2.").arg(prefix, problem));
}

int rounds(const CommandParser& parser, const QString& text)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 0 || n > MaxRounds)
        parser.usageError(QStringLiteral("--rounds vuole un numero da 0 a %1, non \"%2\".").arg(MaxRounds).arg(text));
    return n;
}

// A failure of a check, told as the configuration file's line.
template<typename Check>
void inConfig(const QString& path, int line, Check check)
{
    try {
        check();
    } catch (const Failure& failure) {
        fail(UsageError, QStringLiteral("%1, riga %2: %3").arg(path).arg(line).arg(failure.message));
    }
}

// audit.conf, each value checked as the same option on the command line is.
void readConfig(const CommandParser& parser, const QString& path, AuditOptions& options)
{
    const fleet::AuditConfig config = fleet::parseAuditConfig(readFileBounded(path, fleet::MaxAuditConfigBytes));
    if (config.badLine > 0)
        fail(UsageError, QStringLiteral("%1, riga %2: %3").arg(path).arg(config.badLine).arg(config.problem));
    for (const fleet::AuditConfigLine& line : config.lines) {
        const QString& key = line.key;
        const QString& value = line.value;
        inConfig(path, line.number, [&] {
            if (key == QLatin1String("ports")) {
                options.ports.clear();
                for (const QString& port : fleet::auditConfigPorts(value))
                    options.ports << checkedPortName(port);
                if (options.ports.isEmpty())
                    fail(UsageError, QStringLiteral("\"ports\" è vuota."));
            } else if (key == QLatin1String("book")) {
                if (value.isEmpty())
                    fail(UsageError, QStringLiteral("\"book\" è vuota."));
                options.book = value;
            } else if (key == QLatin1String("prefix")) {
                checkPrefix(parser, value);
                options.prefix = value;
            } else if (key == QLatin1String("until")) {
                options.until = value;
            } else if (key == QLatin1String("rounds")) {
                options.rounds = rounds(parser, value);
            } else if (key == QLatin1String("store")) {
                if (value.isEmpty())
                    fail(UsageError, QStringLiteral("\"store\" è vuota."));
                options.store = value;
            } else if (key == QLatin1String("timeout")) {
                options.silenceMs = silenceMs(parser, value);
            } else if (key == QLatin1String("join")) {
                if (value != QLatin1String("yes") && value != QLatin1String("no"))
                    fail(UsageError, QStringLiteral("\"join\" vuole yes o no, non \"%1\".").arg(value));
                options.join = value == QLatin1String("yes");
            }
        });
    }
}

AuditOptions auditOptions(const CommandParser& parser)
{
    AuditOptions options;
    const QString config = parser.isSet(ConfigOption.names().first()) ? parser.value(ConfigOption.names().first())
                                                                       : fleet::auditConfigPath();
    if (parser.isSet(ConfigOption.names().first()) && !QFileInfo(config).isFile())
        parser.usageError(QStringLiteral("il file di configurazione \"%1\" non esiste.").arg(config));
    if (QFileInfo(config).isFile())
        readConfig(parser, config, options);

    const QStringList ports = parser.values(PortName);
    if (!ports.isEmpty()) {
        options.ports.clear();
        for (const QString& port : ports)
            options.ports << checkedPortName(port);
    }
    if (parser.isSet(QStringLiteral("book")))
        options.book = bookPath(parser);
    if (parser.isSet(PrefixOption.names().first())) {
        options.prefix = parser.value(PrefixOption.names().first());
        checkPrefix(parser, options.prefix);
    }
    if (parser.isSet(UntilOption.names().first()))
        options.until = parser.value(UntilOption.names().first());
    if (parser.isSet(RoundsOption.names().first()))
        options.rounds = rounds(parser, parser.value(RoundsOption.names().first()));
    if (parser.isSet(QStringLiteral("store")) || options.store.isEmpty())
        options.store = storeLocation(parser);
    if (parser.isSet(QStringLiteral("timeout")) || options.silenceMs == 0)
        options.silenceMs = silenceMs(parser);

    if (options.ports.isEmpty())
        parser.usageError(QStringLiteral("serve almeno una --port (o \"ports\" nel file di configurazione)."));
    if (options.ports.size() > MaxPorts)
        parser.usageError(QStringLiteral("al massimo %1 porte.").arg(MaxPorts));
    return options;
}

// The device a port name stands for, so "com2", "COM2" and its link are one port.
QString deviceOf(const QString& port)
{
    const QString path = resolvePortName(port);
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

void checkDistinctPorts(const CommandParser& parser, const QStringList& ports)
{
    std::map<QString, QString> seen;
    for (const QString& port : ports) {
        const auto [at, added] = seen.emplace(deviceOf(port), port);
        if (!added)
            parser.usageError(QStringLiteral("la porta \"%1\" è data due volte (anche come \"%2\").").arg(port, at->second));
    }
}

// HH:MM as the next moment the clock shows it. One more than
// UntilHorizonHours ahead has just passed: a usage error.
QDateTime untilMoment(const CommandParser& parser, const QString& text, const QDateTime& now)
{
    static const QRegularExpression form(QStringLiteral("^([01]?\\d|2[0-3]):([0-5]\\d)$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        parser.usageError(QStringLiteral("--until vuole un'ora HH:MM, non \"%1\".").arg(text));
    const QTime time(match.captured(1).toInt(), match.captured(2).toInt());
    QDateTime moment(now.date(), time);
    if (moment <= now)
        moment = QDateTime(now.date().addDays(1), time);
    if (now.secsTo(moment) > UntilHorizonHours * 3600)
        parser.usageError(QStringLiteral("--until %1: quell'ora è appena passata, nessuna chiamata partirebbe.").arg(text));
    return moment;
}

// --cards 1-40,52: the card indexes (from 0), each once, in the book's order.
std::set<int> cardSelection(const CommandParser& parser, const QString& text, int count)
{
    if (text.size() > MaxCardsText)
        parser.usageError(QStringLiteral("--cards è troppo lungo."));
    static const QRegularExpression item(QStringLiteral("^(\\d{1,6})(?:-(\\d{1,6}))?$"));
    std::set<int> chosen;
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QRegularExpressionMatch match = item.match(part.trimmed());
        if (!match.hasMatch())
            parser.usageError(QStringLiteral("--cards vuole schede e intervalli separati da virgole (1-40,52), non \"%1\".")
                                  .arg(part));
        const int first = match.captured(1).toInt();
        const int last = match.captured(2).isEmpty() ? first : match.captured(2).toInt();
        if (first < 1 || last < first)
            parser.usageError(QStringLiteral("--cards: \"%1\" non è un intervallo di schede (da 1).").arg(part));
        if (last > count)
            parser.usageError(QStringLiteral("--cards: la rubrica non ha la scheda %1: ne ha %2.").arg(last).arg(count));
        for (int n = first; n <= last; ++n)
            chosen.insert(n - 1);
    }
    return chosen;
}

// Where the port locks live: $XDG_RUNTIME_DIR/pradix, or the state folder.
QString lockFolder()
{
    const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime))
        return runtime + QStringLiteral("/pradix");
    QString state = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/pradix");
}

// One audit per port: a lock file per device, held for the run, holding the
// process id of its holder. The port itself is free between calls, so its
// own lock cannot tell a second audit that the first is still at work.
class PortLocks
{
public:
    PortLocks() = default;
    PortLocks(const PortLocks&) = delete;
    PortLocks& operator=(const PortLocks&) = delete;
    ~PortLocks()
    {
        for (int fd : fds_)
            ::close(fd);
    }

    void take(const QString& port)
    {
        const QString folder = lockFolder();
        if (!makePrivateFolder(folder))
            fail(FileError, QStringLiteral("la cartella dei blocchi delle porte \"%1\" non si può creare: %2.")
                                .arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
        QString name = deviceOf(port);
        name.replace(QLatin1Char('/'), QLatin1Char('_'));
        const QString path = folder + QStringLiteral("/audit-port") + name + QStringLiteral(".lock");
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            fail(FileError, QStringLiteral("il blocco della porta \"%1\" (%2) non si può aprire: %3.")
                                .arg(port, path, QString::fromLocal8Bit(std::strerror(errno))));
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            char text[32] = {};
            const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
            ::close(fd);
            const qint64 holder = got > 0 ? QByteArray(text, int(got)).trimmed().toLongLong() : 0;
            fail(LineTrouble, holder > 0 ? QStringLiteral("la porta \"%1\" è già usata da un altro controllo (processo %2).").arg(port).arg(holder)
                                         : QStringLiteral("la porta \"%1\" è già usata da un altro controllo.").arg(port));
        }
        const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) != pid.size()) {
            // The lock holds without the id; a second audit is still refused.
        }
        fds_.push_back(fd);
    }

private:
    std::vector<int> fds_;
};

fleet::Customer customerOf(const CustomerCard& card, int index)
{
    fleet::Customer c;
    c.card = index + 1;
    c.surname = card.text(CustomerCard::Field::Cognome);
    c.name = card.text(CustomerCard::Field::Nome);
    c.number = card.text(CustomerCard::Field::Numero);
    return c;
}

// The customers of a new run, least recently audited first (never audited
// before all), the cards without a number last.
std::vector<fleet::AuditItem> newRunItems(const CommandParser& parser, BookReader& book, fleet::FleetStore& store,
                                          std::vector<int>& unusable)
{
    std::set<int> chosen;
    if (parser.isSet(CardsOption.names().first())) {
        chosen = cardSelection(parser, parser.value(CardsOption.names().first()), book.cardCount());
    } else {
        for (int i = 0; i < book.cardCount(); ++i)
            chosen.insert(i);
    }
    std::map<QString, fleet::BoxState> known;
    try {
        for (fleet::BoxState& box : store.boxes())
            known.emplace(box.number, std::move(box));
    } catch (const fleet::StoreError& error) {
        failOnStore(error);
    }
    const bool onlyFailed = parser.isSet(OnlyFailedOption.names().first());
    std::vector<fleet::AuditItem> items;
    for (int index : chosen) {
        const CustomerCard card = book.card(index);
        fleet::AuditItem item{ customerOf(card, index), card };
        if (!item.customer.number.isEmpty() && !frames::dial(item.customer.number)) {
            // A number no dial frame can carry is never dialled, like a missing one.
            unusable.push_back(item.customer.card);
            item.customer.number.clear();
        }
        const auto box = known.find(item.customer.number);
        if (onlyFailed && box != known.end()
            && (box->second.lastOutcome == fleet::Outcome::Same || box->second.lastOutcome == fleet::Outcome::Different))
            continue;
        items.push_back(std::move(item));
    }
    auto lastAudit = [&](const fleet::AuditItem& item) {
        const auto box = known.find(item.customer.number);
        return box == known.end() ? QDateTime() : box->second.lastAudit;
    };
    std::stable_sort(items.begin(), items.end(), [&](const fleet::AuditItem& a, const fleet::AuditItem& b) {
        if (a.customer.number.isEmpty() != b.customer.number.isEmpty())
            return b.customer.number.isEmpty();
        const QDateTime x = lastAudit(a);
        const QDateTime y = lastAudit(b);
        if (x.isNull() != y.isNull())
            return x.isNull();
        return x < y;
    });
    return items;
}

// The customers an interrupted run had not finished, with their cards as
// the book holds them now (found by card and number, or by number alone
// after an "Ordina").
std::vector<fleet::AuditItem> resumedItems(BookReader& book, const std::vector<fleet::RunRow>& rows, bool quiet)
{
    std::map<QString, int> byNumber;
    std::vector<CustomerCard> cards;
    for (int i = 0; i < book.cardCount(); ++i) {
        cards.push_back(book.card(i));
        byNumber.emplace(cards.back().text(CustomerCard::Field::Numero), i);
    }
    std::vector<fleet::AuditItem> items;
    for (const fleet::RunRow& row : rows) {
        if (row.outcome || row.customer.number.isEmpty())
            continue;
        int index = row.customer.card - 1;
        if (index < 0 || index >= int(cards.size()) || cards[size_t(index)].text(CustomerCard::Field::Numero) != row.customer.number) {
            const auto found = byNumber.find(row.customer.number);
            index = found == byNumber.end() ? -1 : found->second;
        }
        if (index < 0) {
            note(quiet, QStringLiteral("il numero %1 (%2) non è più nella rubrica: non viene chiamato.")
                            .arg(row.customer.number, row.customer.surname));
            continue;
        }
        items.push_back(fleet::AuditItem{ row.customer, cards[size_t(index)] });
    }
    return items;
}

QString countsText(const std::array<int, fleet::OutcomeCount>& counts)
{
    QStringList parts;
    for (int i = 0; i < fleet::OutcomeCount; ++i)
        if (counts[size_t(i)] > 0)
            parts << QStringLiteral("%1 %2").arg(counts[size_t(i)]).arg(fleet::outcomeWord(fleet::Outcome(i)));
    return parts.join(QStringLiteral(", "));
}

QString timeLeftText(qint64 ms)
{
    if (ms < 60000)
        return QStringLiteral("%1 s").arg((ms + 999) / 1000);
    const qint64 minutes = (ms + 59999) / 60000;
    return minutes < 60 ? QStringLiteral("%1 min").arg(minutes)
                        : QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

// The customers of a shared run, in the run's order, with their cards as
// this runner's book holds them: the same book as the run's, or refused.
std::vector<fleet::AuditItem> joinedItems(BookReader& book, const std::vector<fleet::RunRow>& rows, qint64 runId)
{
    std::vector<fleet::AuditItem> items;
    for (const fleet::RunRow& row : rows) {
        const int index = row.customer.card - 1;
        // A number the run left out (none, or one no dial frame carries) is never called.
        if (index < 0 || index >= book.cardCount()
            || (!row.customer.number.isEmpty() && book.card(index).text(CustomerCard::Field::Numero) != row.customer.number))
            fail(FileError, QStringLiteral("il controllo %1 in corso è di un'altra rubrica (la scheda %2 non vi ha il numero "
                                           "\"%3\"): un controllo è di una rubrica sola.")
                                .arg(runId)
                                .arg(row.customer.card)
                                .arg(row.customer.number));
        items.push_back(fleet::AuditItem{ row.customer, book.card(index) });
    }
    return items;
}

struct Prepared
{
    std::unique_ptr<fleet::FleetStore> store;
    qint64 runId = 0;
    std::vector<fleet::AuditItem> items;
};

// A shared run: the one in progress on the store joined, or a new one
// started. Runners that start together race for the run lock; the one that
// loses joins the winner's run once it is there.
void joinOrStart(const CommandParser& parser, const AuditOptions& options, BookReader& book, const QDateTime& nowUtc,
                 std::vector<int>& unusable, Prepared& prepared)
{
    fleet::FleetStore& store = *prepared.store;
    if (!store.sharesRuns())
        parser.usageError(QStringLiteral("--join vuole un archivio condiviso su un server PostgreSQL "
                                         "(--store postgresql://utente@server/database)."));
    for (int attempt = 0;; ++attempt) {
        const std::optional<fleet::RunInfo> last = store.lastRun();
        if (last && last->end == fleet::RunEnd::Running) {
            prepared.runId = last->id;
            prepared.items = joinedItems(book, store.runRows(last->id), last->id);
            std::vector<fleet::Customer> customers;
            for (const fleet::AuditItem& item : prepared.items)
                customers.push_back(item.customer);
            store.joinRun(last->id, customers, nowUtc);
            return;
        }
        try {
            prepared.items = newRunItems(parser, book, store, unusable);
            std::vector<fleet::Customer> customers;
            for (const fleet::AuditItem& item : prepared.items)
                customers.push_back(item.customer);
            prepared.runId = store.startRun(options.ports, customers, nowUtc);
            return;
        } catch (const fleet::StoreError& error) {
            if (error.kind != fleet::StoreError::Kind::Busy || attempt >= 50)
                throw;
            unusable.clear();
            QThread::msleep(100);
        }
    }
}

// The store open and the run started, or the interrupted one taken up again.
Prepared prepareRun(const CommandParser& parser, const AuditOptions& options, BookReader& book, bool resume,
                    bool join, const QDateTime& nowUtc)
{
    Prepared prepared;
    std::vector<int> unusable;
    try {
        prepared.store = fleet::openStore(options.store, fleet::OpenMode::Write);
        fleet::FleetStore& store = *prepared.store;
        if (join) {
            joinOrStart(parser, options, book, nowUtc, unusable, prepared);
        } else if (resume) {
            const std::optional<fleet::RunInfo> last = store.lastInterruptedRun();
            if (!last)
                parser.usageError(QStringLiteral("non c'è un controllo interrotto da riprendere."));
            prepared.runId = last->id;
            prepared.items = resumedItems(book, store.runRows(prepared.runId), parser.quiet());
            store.resumeRun(prepared.runId, options.ports, nowUtc);
        } else {
            prepared.items = newRunItems(parser, book, store, unusable);
            std::vector<fleet::Customer> customers;
            for (const fleet::AuditItem& item : prepared.items)
                customers.push_back(item.customer);
            prepared.runId = store.startRun(options.ports, customers, nowUtc);
        }
    } catch (const fleet::StoreError& error) {
        failOnStore(error);
    }
    for (int card : unusable)
        note(parser.quiet(), QStringLiteral("la scheda %1 ha un numero che non si può comporre: non viene chiamata.").arg(card));
    QStringList numberless;
    for (const fleet::AuditItem& item : prepared.items)
        if (item.customer.number.isEmpty())
            numberless << QString::number(item.customer.card);
    if (!numberless.isEmpty())
        note(parser.quiet(), QStringLiteral("schede senza numero, non chiamate: %1.").arg(numberless.join(QStringLiteral(", "))));
    return prepared;
}

// Runs the audit until it ends, its progress on one line of standard error.
void runToItsEnd(fleet::AuditRun& run, bool quiet)
{
    Progress progress(quiet);
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QObject::connect(&run, &fleet::AuditRun::finished, &loop, &QEventLoop::quit);
    QObject::connect(&run, &fleet::AuditRun::portFailed, &loop, [&](const QString& port, const QString& message) {
        progress.end();
        note(false, QStringLiteral("porta \"%1\" lasciata: %2").arg(port, QString(message).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    });
    // Customers done of all, by outcome, and the time left at the pace so far.
    auto showProgress = [&] {
        const int done = run.done();
        QString line = QStringLiteral("%1/%2").arg(done).arg(run.callable());
        if (done > 0)
            line += QStringLiteral(": ") + countsText(run.counts());
        if (done > 0 && done < run.callable())
            line += QStringLiteral("; ancora ~%1").arg(timeLeftText(elapsed.elapsed() * (run.callable() - done) / done));
        progress.show(line);
    };
    QObject::connect(&run, &fleet::AuditRun::sessionRecorded, &loop, showProgress);
    run.start();
    if (run.callable() > 0)
        showProgress();
    if (!run.isFinished())
        loop.exec();
}

// What the run found, told on standard error, and the command's exit code.
// The code speaks for the whole run: a resumed run's customers finished
// before the stop count as much as those called now.
int outcomeOf(const fleet::AuditRun& run, fleet::FleetStore& store, qint64 runId, bool shared, bool quiet)
{
    const std::array<int, fleet::OutcomeCount> counts = run.counts();
    std::array<int, fleet::OutcomeCount> whole = counts;
    try {
        if (const std::optional<fleet::RunInfo> info = store.run(runId))
            whole = info->counts;
    } catch (const fleet::StoreError& error) {
        note(quiet, error.message);
    }
    // A shared run's customers were called by every runner.
    const int uncalled = run.callable()
        - (shared ? std::accumulate(whole.begin(), whole.end(), 0) : run.done());
    const int signal = StopSignals::received();
    note(quiet, QStringLiteral("controllo %1: %2 di %3 clienti controllati%4%5.")
                    .arg(runId)
                    .arg(run.done())
                    .arg(run.callable())
                    .arg(run.done() > 0 ? QStringLiteral(": ") + countsText(counts) : QString())
                    .arg(uncalled > 0 && signal == 0 && run.untilReached()
                             ? QStringLiteral("; %1 non chiamati, è l'ora data con --until").arg(uncalled)
                             : QString()));
    stopIfSignalled();
    if (!run.failure().isEmpty())
        fail(LineTrouble, run.failure());
    if (uncalled > 0 || whole[size_t(fleet::Outcome::Unreached)] > 0 || whole[size_t(fleet::Outcome::Refused)] > 0)
        return LineTrouble;
    if (whole[size_t(fleet::Outcome::Different)] > 0 || whole[size_t(fleet::Outcome::NoSummary)] > 0)
        return Differences;
    return Success;
}

} // namespace

int runAuditRun(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral(
        "Chiama la centralina di ogni cliente della rubrica con il combinatore (\"Chiama\",\n"
        "\"Leggi Dati\", \"Sconnetti\"), ne legge la tabella (non scrive mai) e la\n"
        "confronta con il riepilogo della scheda, orologio e testo della centralina\n"
        "esclusi. Ogni esito va nell'archivio dei controlli: uguale, diversa (con i\n"
        "campi diversi), senza riepilogo (la tabella letta è la prima versione),\n"
        "non raggiunta, rifiutata. Ogni chiamata è chiusa, qualunque cosa accada.\n"
        "Con più --port una sessione per porta alla volta; prima i clienti controllati\n"
        "meno di recente. Le schede senza numero sono elencate ma non chiamate.\n"
        "--until: un'ora entro 12 ore (anche domani); più lontana è un'ora passata.\n"
        "Il file di configurazione ha righe \"chiave = valore\": ports (separate da\n"
        "spazi o virgole), book, prefix, until, rounds, store, timeout; le opzioni\n"
        "della riga di comando prevalgono.\n"
        "Ctrl+C o SIGTERM chiudono ogni chiamata in corso, segnano il controllo come\n"
        "interrotto ed escono con 130 o 143; --resume lo riprende senza richiamare chi\n"
        "era già stato controllato.\n"
        "Con --join e un archivio su un server PostgreSQL più macchine condividono lo\n"
        "stesso controllo: ognuna prende i clienti dall'archivio uno alla volta, e chi\n"
        "si ferma o si perde lascia i suoi alle altre; il controllo finisce quando ogni\n"
        "cliente ha il suo esito.\n"
        "Uscita 0 se ogni centralina è uguale, 1 se qualcuna è diversa o senza\n"
        "riepilogo, 3 se qualcuna non è stata raggiunta o ha rifiutato, 2 per un errore\n"
        "d'uso, 5 se la rubrica o l'archivio non si possono usare."));
    parser.addOption(portOption(QStringLiteral("una porta seriale con il combinatore; ripetuta, una sessione per porta alla volta")));
    parser.addOption(bookOption());
    parser.addOption(CardsOption);
    parser.addOption(PrefixOption);
    parser.addOption(timeoutOption());
    parser.addOption(UntilOption);
    parser.addOption(RoundsOption);
    parser.addOption(OnlyFailedOption);
    parser.addOption(ResumeOption);
    parser.addOption(JoinOption);
    parser.addOption(storeOption());
    parser.addOption(ConfigOption);
    if (!parser.parse())
        return Success;

    const bool resume = parser.isSet(ResumeOption.names().first());
    if (resume && (parser.isSet(CardsOption.names().first()) || parser.isSet(OnlyFailedOption.names().first())))
        parser.usageError(QStringLiteral("--resume riprende il controllo com'era: niente --cards né --only-failed."));
    const AuditOptions options = auditOptions(parser);
    const bool join = parser.isSet(JoinOption.names().first()) || options.join;
    if (join && resume)
        parser.usageError(QStringLiteral("--join (o \"join = yes\") e --resume non vanno insieme: --join riprende da sé "
                                         "il controllo in corso."));
    checkDistinctPorts(parser, options.ports);
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime until = options.until.isEmpty() ? QDateTime() : untilMoment(parser, options.until, now);

    BookReader book(options.book);
    tellNotices(parser.quiet(), book, options.book);
    // Every port is taken before the store, so a refused one leaves no run behind.
    PortLocks locks;
    for (const QString& port : options.ports)
        locks.take(port);
    Prepared prepared = prepareRun(parser, options, book, resume, join, now.toUTC());

    fleet::AuditSettings settings;
    settings.ports = options.ports;
    settings.prefix = options.prefix;
    settings.silenceMs = options.silenceMs;
    settings.until = until;
    settings.rounds = options.rounds;
    settings.roundPauseMs = RoundPauseMs;
    settings.paceScale = paceScale();
    settings.host = QSysInfo::machineHostName();
    settings.shared = join;
    settings.leaseMs = LeaseMs;

    const StopSignals stop;
    fleet::AuditRun run(*prepared.store, prepared.runId, settings, std::move(prepared.items));
    QObject::connect(&stop, &StopSignals::stopRequested, &run, [&run] { run.stop(); });
    runToItsEnd(run, parser.quiet());

    fleet::RunEnd end = fleet::RunEnd::Finished;
    if (StopSignals::received() != 0)
        end = fleet::RunEnd::Interrupted;
    else if (!run.failure().isEmpty())
        end = fleet::RunEnd::Failed;
    // A shared run goes on with the other runners when this one stops or
    // fails; it ends once every customer has a final outcome.
    try {
        if (!join || run.runComplete())
            prepared.store->endRun(prepared.runId, end, QDateTime::currentDateTimeUtc());
    } catch (const fleet::StoreError& error) {
        if (!run.storeFailed())
            failOnStore(error);
    }
    if (run.storeFailed())
        fail(FileError, run.failure());
    return outcomeOf(run, *prepared.store, prepared.runId, join, parser.quiet());
}

} // namespace tool

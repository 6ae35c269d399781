#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// What the nightly audit learns about the customers' boxes, kept from one
// night to the next: the runs, every session's outcome, the tables of every
// good read (each distinct table once, with the nights it was seen) and each
// box's state. A box is known by its dialled number, since "Ordina"
// renumbers the cards; the card's number, surname and name are kept beside
// it for display as the book had them at the call.
//
// The audit, the reports, `history` and the fleet window speak to the store
// through FleetStore alone, so the file on this machine (SQLite) and a
// server shared by several machines can stand behind it alike.
//
// A store object is used from the thread that opened it. Every write is one
// transaction: a process killed at any moment (a power cut included) leaves
// the store as it was before the write in progress.
namespace fleet {

// How one session with a customer's box ended.
enum class Outcome {
    Same,      // "uguale": the box holds the card's table
    Different, // "diversa": it holds another; the differing fields are kept
    NoSummary, // "senza riepilogo": the card holds no table; the one read is the box's first version
    Unreached, // "non raggiunta": no answer, line trouble, a table cut short or garbled
    Refused,   // "rifiutata": the box answered with an error
};
constexpr int OutcomeCount = 5;

// The word the operator reads and the files hold: "uguale", "diversa",
// "senza riepilogo", "non raggiunta", "rifiutata".
QString outcomeWord(Outcome outcome);
std::optional<Outcome> outcomeFromWord(const QString& word);
// A table came whole from the box (and was compared, or kept as the first version).
constexpr bool isGoodRead(Outcome outcome)
{
    return outcome == Outcome::Same || outcome == Outcome::Different || outcome == Outcome::NoSummary;
}

// One field that reads differently on the box and on the card.
struct FieldDifference
{
    int association = 0; // 0 for the header
    QString field;       // the field's key as the tool's JSON names it: "end", "carrier"
    QString cardValue;   // as `diff` shows it; empty for an empty field
    QString boxValue;
};

// A customer of the book, as the book had them when the run started.
struct Customer
{
    int card = 0; // from 1
    QString surname;
    QString name;
    QString number; // dialled as it stands; empty: the card has no number and is never dialled
};

// One session with one customer's box: the call, the read and the hang-up.
struct SessionResult
{
    Customer customer;
    QString port; // the port as the operator gave it: "com2", "/dev/ttyUSB0"
    QString host; // the machine that made the call
    QDateTime started; // UTC
    QDateTime ended;   // UTC
    Outcome outcome = Outcome::Unreached;
    QString detail;      // why, for non raggiunta and rifiutata, in Italian
    QByteArray table;    // a good read's table as a table file holds it (3584 bytes); empty otherwise
    QString clockText;   // the box's clock and its own text, as the read brought them
    QString deviceText;
    std::vector<FieldDifference> differences; // for diversa
    int round = 0; // 0 the run's first pass, 1.. its further rounds
};

// A customer of a shared run taken by one runner, for as long as its lease
// lasts (see FleetStore::claimNext).
struct Claim
{
    int position = -1; // the customer's place in the run
    Customer customer;
    int attempts = 0; // sessions the run recorded with the customer before this one
    qint64 token = 0; // this claim and no other
};

enum class RunEnd {
    Running,     // "in corso" (or a process that died without a word)
    Finished,    // "finita"
    Interrupted, // "interrotta": stopped by a signal; `audit run --resume` goes on with it
    Failed,      // "fallita": the run could not go on (the store, every port)
};
QString runEndWord(RunEnd end);

struct RunInfo
{
    qint64 id = 0;
    QDateTime started;
    QDateTime ended; // null while running
    QStringList ports;
    QString host;
    qint64 pid = 0;
    RunEnd end = RunEnd::Running;
    int customers = 0; // cards in the run, those without a number included
    // Customers whose last session in the run ended so, by Outcome.
    std::array<int, OutcomeCount> counts{};
};

// A customer of a run, for its report and for resuming it.
struct RunRow
{
    Customer customer;
    // The outcome of the customer's last session in the run; none when the
    // run never called them (no number, or stopped before their turn).
    std::optional<Outcome> outcome;
    int attempts = 0;
    QString port;
    QString host;
    QDateTime ended;
    QString detail;
    std::vector<FieldDifference> differences;
    // Since when the box has been so: its failing-since for non raggiunta and
    // rifiutata, its last change for diversa and uguale.
    QDateTime since;
};

// What the store knows of one box now.
struct BoxState
{
    QString number;
    int card = 0; // as at its last session
    QString surname;
    QString name;
    std::optional<Outcome> lastOutcome; // none: never audited
    QDateTime lastAudit;   // the end of its last session
    QDateTime lastSuccess; // the end of its last good read
    QDateTime lastChange;  // when the table it holds now was first seen (a changed table, or its first)
    QDateTime failingSince; // the first of the failures in a row; null after a good read
    // Runs in a row (not attempts) whose last session with the box was non
    // raggiunta or rifiutata.
    int failuresInRow = 0;
    int differingFields = 0; // at its last good read
};

// A table a box was seen holding, stored once per distinct content.
struct Version
{
    qint64 id = 0;
    QString number;
    QDateTime firstSeen;
    QDateTime lastSeen;
    int timesSeen = 0;
    QByteArray table; // as a table file holds it
};

// One session with a box, for its history.
struct HistoryEntry
{
    qint64 runId = 0;
    QDateTime started;
    QDateTime ended;
    Outcome outcome = Outcome::Unreached;
    QString port;
    QString host;
    QString detail;
    qint64 versionId = 0; // the table read, for a good read
    std::vector<FieldDifference> differences;
};

// Why a store cannot be used; its message is for the operator, in Italian,
// and names the store.
struct StoreError
{
    enum class Kind {
        Missing,     // nothing at that place (reading only)
        NotAStore,   // a file that is not a fleet store
        NewerSchema, // written by a newer Pradix
        ReadOnly,    // cannot be written
        Full,        // the disk is full
        Busy,        // another audit works on it: holderPid says which process
        Other,
    };
    Kind kind = Kind::Other;
    QString message;
    qint64 holderPid = 0;
};

class FleetStore
{
public:
    virtual ~FleetStore() = default;

    // Where it is, for messages: a file's path, a server's address without password.
    virtual QString location() const = 0;

    // ---- an audit's run (each call one transaction; a failure throws StoreError)

    // A new run over these customers (in the order they are to be called),
    // holding the store's run lock until endRun or the store's end: another
    // audit on the same store is refused (Busy, with its process id).
    virtual qint64 startRun(const QStringList& ports, const std::vector<Customer>& customers, const QDateTime& at) = 0;
    // The run `id` taken up again by this process (its lock, its ports), as
    // `--resume` does; RunRow::outcome tells what it finished.
    virtual void resumeRun(qint64 id, const QStringList& ports, const QDateTime& at) = 0;
    // The session, its version (a good read's table, stored once per content)
    // and the box's state, together or not at all.
    virtual void recordSession(qint64 runId, const SessionResult& result) = 0;
    virtual void endRun(qint64 runId, RunEnd end, const QDateTime& at) = 0;

    // ---- a run shared by several runners at once (`audit run --join`), on a
    // store that several machines reach. A store that cannot share runs
    // (the file of one machine) refuses with a StoreError.

    virtual bool sharesRuns() const { return false; }
    // This process joins the run `id`, still going, as one more runner; the
    // customers it read from its book must be the run's (a run belongs to one
    // book), or it is refused.
    virtual void joinRun(qint64 id, const std::vector<Customer>& customers, const QDateTime& at);
    // The next customer of the run to call, claimed by this runner for
    // `leaseMs` (the server's clock): first those never called, in the run's
    // order, then the non raggiunta again (the pause recordClaimed asked for
    // after their last session), until they have had 1 + `rounds` sessions. None when nobody
    // can be called now. A customer whose runner's lease ran out (a runner
    // killed, cut off) is claimed again.
    virtual std::optional<Claim> claimNext(qint64 runId, int rounds, int leaseMs);
    // Records the session of a claimed customer and lets go of the claim,
    // together; false, and nothing written, when the lease ran out and the
    // customer was claimed by another runner meanwhile. A non raggiunta is
    // not claimed again for `retryPauseMs`.
    virtual bool recordClaimed(qint64 runId, const Claim& claim, const SessionResult& result, int retryPauseMs);
    // Gives a claimed customer back uncalled (a runner stopping).
    virtual void releaseClaim(qint64 runId, const Claim& claim);
    // Whether every customer with a number has a final outcome: anything but
    // non raggiunta, or non raggiunta in 1 + `rounds` sessions.
    virtual bool runComplete(qint64 runId, int rounds);
    // Calls `changed` on this thread, from its event loop, whenever a runner
    // of the store records a session or gives a customer back, so one waiting
    // for the others learns of it at once rather than at its next look; an
    // empty function stops it. A store that cannot tell does nothing.
    virtual void watchClaims(std::function<void()> changed);

    // ---- what is known (reading only)

    virtual std::optional<RunInfo> run(qint64 id) = 0;
    virtual std::optional<RunInfo> lastRun() = 0;
    // The last run, when it was interrupted (or its process died): the one
    // `--resume` goes on with.
    virtual std::optional<RunInfo> lastInterruptedRun() = 0;
    // Every customer of the run, in the run's order.
    virtual std::vector<RunRow> runRows(qint64 runId) = 0;
    // Every box ever audited, by number.
    virtual std::vector<BoxState> boxes() = 0;
    virtual std::optional<BoxState> box(const QString& number) = 0;
    // A box's sessions, oldest first.
    virtual std::vector<HistoryEntry> history(const QString& number) = 0;
    // A box's versions, oldest first (table bytes included).
    virtual std::vector<Version> versions(const QString& number) = 0;
    virtual std::optional<Version> version(qint64 id) = 0;
};

enum class OpenMode { Read, Write };

// $XDG_DATA_HOME/pradix/fleet.sqlite.
QString defaultStorePath();

// The store at `location`: a file's path, or a PostgreSQL server's address
// (postgresql://user@host/database, fleet/PostgresAddress.h). For Write a
// missing store is made (0600, its folder 0700; on a server, the layout in an
// empty database) and an older schema brought up to date; for Read a missing
// one is Missing and nothing is made. Throws StoreError.
std::unique_ptr<FleetStore> openStore(const QString& location, OpenMode mode);

} // namespace fleet

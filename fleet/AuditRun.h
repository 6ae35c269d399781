#pragma once

#include "book/CustomerCard.h"
#include "fleet/FleetStore.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <array>
#include <memory>
#include <optional>
#include <vector>

class QThread;

// The nightly audit's run: every customer's box called through the
// dialling units, its table read (never written), judged against the
// card and recorded. One worker thread per port, each with its own port,
// grid, pacer and session, takes the next customer from a queue they share;
// what each session found is handed to the thread that owns the run (the
// store's), which records it. A window can run it as the tool does: start,
// listen to the signals, stop.
namespace fleet {

// A customer to call, with the card the box is judged against.
struct AuditItem
{
    Customer customer;
    CustomerCard card;
};

struct AuditSettings
{
    QStringList ports;
    QString prefix;        // dialled before each number, when not empty
    int silenceMs = 10000; // a line silent this long while an answer is awaited: non raggiunta
    QDateTime until;       // no call starts from then on; null: no limit
    int rounds = 2;        // further rounds for the non raggiunta
    int roundPauseMs = 60000;
    double paceScale = 1.0; // the protocol's waits and the pause between rounds, scaled (tests only)
    QString host;
};

class AuditRun : public QObject
{
    Q_OBJECT

public:
    // The items in the order they are to be called; those without a number
    // are left out of the calls. `store` is used on this thread only and
    // holds the run `runId`, started or resumed.
    AuditRun(FleetStore& store, qint64 runId, AuditSettings settings, std::vector<AuditItem> items,
             QObject* parent = nullptr);
    ~AuditRun() override;

    void start();
    // Every open call is hung up after the frame in progress; no call starts
    // after it. finished follows once every worker has put its line down.
    void stop();
    bool isFinished() const { return finished_; }

    // Why it ended early, beyond a stop: a store that could not record, or
    // no port left to call on. Empty otherwise.
    const QString& failure() const { return failure_; }
    bool storeFailed() const { return storeFailed_; }
    bool untilReached() const { return untilReached_; }

    // Customers with a number, to be called.
    int callable() const { return callable_; }
    // Those whose last session ended, and how it ended, by Outcome.
    int done() const;
    std::array<int, OutcomeCount> counts() const;

signals:
    // On the owner's thread, after the session is recorded.
    void sessionRecorded(const fleet::SessionResult& result);
    // A port that could not be opened: no more calls on it.
    void portFailed(const QString& port, const QString& message);
    void finished();

private:
    struct Shared;
    void record(int index, const SessionResult& result);
    void workerEnded();
    void endRound();
    void nextRound();
    void finish();
    void failRun(const QString& why, bool store);

    FleetStore& store_;
    qint64 runId_;
    AuditSettings settings_;
    std::vector<AuditItem> items_;
    std::shared_ptr<Shared> shared_;
    std::vector<QThread*> workers_;
    int callable_ = 0;
    int running_ = 0;
    int round_ = 0;
    int roundSize_ = 0;
    int roundDone_ = 0;
    std::vector<std::optional<Outcome>> lastOf_; // by item
    QTimer pause_;
    bool stopping_ = false;
    bool finished_ = false;
    bool storeFailed_ = false;
    bool untilReached_ = false;
    QString failure_;
};

} // namespace fleet

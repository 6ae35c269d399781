#pragma once

#include "fleet/FleetStore.h"
#include "fleet/PostgresAddress.h"

#include <QHash>
#include <QSqlDatabase>
#include <QString>

#include <memory>

class QSqlQuery;

// The fleet store on a PostgreSQL server (Qt's SQL module), which several
// machines share: the file's layout with the server's types, its version in
// the database and the steps that bring an older one up, every write one
// transaction. The run lock is an advisory lock of the server's, held by
// this connection: the server lets go of it when the connection ends,
// however the process ends.
namespace fleet {

class PostgresFleetStore final : public FleetStore
{
public:
    // Throws StoreError (see openStore).
    static std::unique_ptr<FleetStore> open(const QString& location, OpenMode mode);
    ~PostgresFleetStore() override;

    QString location() const override { return where_; }

    qint64 startRun(const QStringList& ports, const std::vector<Customer>& customers, const QDateTime& at) override;
    void resumeRun(qint64 id, const QStringList& ports, const QDateTime& at) override;
    void recordSession(qint64 runId, const SessionResult& result) override;
    void endRun(qint64 runId, RunEnd end, const QDateTime& at) override;

    bool sharesRuns() const override { return true; }
    void joinRun(qint64 id, const std::vector<Customer>& customers, const QDateTime& at) override;
    std::optional<Claim> claimNext(qint64 runId, int rounds, int leaseMs) override;
    bool recordClaimed(qint64 runId, const Claim& claim, const SessionResult& result, int retryPauseMs) override;
    void releaseClaim(qint64 runId, const Claim& claim) override;
    bool runComplete(qint64 runId, int rounds) override;

    std::optional<RunInfo> run(qint64 id) override;
    std::optional<RunInfo> lastRun() override;
    std::optional<RunInfo> lastInterruptedRun() override;
    std::vector<RunRow> runRows(qint64 runId) override;
    std::vector<BoxState> boxes() override;
    std::optional<BoxState> box(const QString& number) override;
    std::vector<HistoryEntry> history(const QString& number) override;
    std::vector<Version> versions(const QString& number) override;
    std::optional<Version> version(qint64 id) override;

private:
    struct BoxRow;

    PostgresFleetStore(const PostgresAddress& address, OpenMode mode);
    void connect();
    void disconnect();
    void bringUpToDate();

    void acquireRunLock();
    void releaseRunLock();
    bool runLockTaken();

    void checkWritable(const char* what) const;
    void checkActiveRun(qint64 runId) const;
    void loadPositions(qint64 runId);
    qint64 insertRun(const QStringList& ports, int customers, const QDateTime& at);
    void insertRunCustomers(qint64 runId, const std::vector<Customer>& customers);
    BoxRow findOrMakeBox(const Customer& customer);
    qint64 keepVersion(qint64 boxId, const SessionResult& result);
    qint64 insertSession(qint64 runId, const BoxRow& box, const SessionResult& result, qint64 versionId);
    void insertDifferences(qint64 sessionId, const std::vector<FieldDifference>& differences);
    void updateBox(const BoxRow& box, const SessionResult& result);
    void validate(const SessionResult& result) const;
    // The session, its version, the box's state and the customer's place in
    // the run, inside the caller's transaction.
    void writeSession(qint64 runId, int position, const SessionResult& result);

    RunInfo runFrom(QSqlQuery& query);
    std::optional<RunInfo> oneRun(const QString& where, qint64 id);

    PostgresAddress address_;
    QString where_;
    OpenMode mode_;
    QString connection_;
    QSqlDatabase db_;
    bool runLocked_ = false;
    qint64 activeRun_ = 0;
    QHash<int, int> positions_; // the active run's cards by their place in it
};

} // namespace fleet

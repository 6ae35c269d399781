#pragma once

#include "fleet/PostgresAddress.h"
#include "fleet/SqlFleetStore.h"

#include <QObject>
#include <QString>

#include <memory>

// The fleet store on a PostgreSQL server (Qt's SQL module), which several
// machines share: the file's layout with the server's types, its version in
// the database and the steps that bring an older one up, every write one
// transaction. The run lock is an advisory lock of the server's, held by
// this connection: the server lets go of it when the connection ends,
// however the process ends. A run may be shared by several runners, each
// claiming its customers one at a time.
namespace fleet {

class PostgresFleetStore final : public SqlFleetStore
{
public:
    // Throws StoreError (see openStore).
    static std::unique_ptr<FleetStore> open(const QString& location, OpenMode mode);
    ~PostgresFleetStore() override;

    bool sharesRuns() const override { return true; }
    void joinRun(qint64 id, const std::vector<Customer>& customers, const QDateTime& at) override;
    std::optional<Claim> claimNext(qint64 runId, int rounds, int leaseMs) override;
    bool recordClaimed(qint64 runId, const Claim& claim, const SessionResult& result, int retryPauseMs) override;
    void releaseClaim(qint64 runId, const Claim& claim) override;
    bool runComplete(qint64 runId, int rounds) override;
    void watchClaims(std::function<void()> changed) override;

private:
    PostgresFleetStore(const PostgresAddress& address, OpenMode mode);
    void connect();
    void disconnect();
    void bringUpToDate();

    StoreError sqlFailure(const QSqlError& error) const override;
    QString beginStatement() const override;
    QString forUpdate() const override;
    void acquireRunLock() override;
    void releaseRunLock() override;
    bool runLockTaken() override;

    PostgresAddress address_;
    QString connection_;
    bool runLocked_ = false;
    QMetaObject::Connection watching_;
};

} // namespace fleet

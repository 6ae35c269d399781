#pragma once

#include "fleet/RunLock.h"
#include "fleet/SqlFleetStore.h"

#include <QString>

#include <memory>

// The fleet store in one SQLite file of this machine (Qt's SQL module):
// WAL, every write one transaction synced to the disk before it counts, the
// layout's version in the file and the steps that bring an older one up.
namespace fleet {

class SqliteFleetStore final : public SqlFleetStore
{
public:
    // Throws StoreError (see openStore).
    static std::unique_ptr<FleetStore> open(const QString& path, OpenMode mode);
    ~SqliteFleetStore() override;

private:
    SqliteFleetStore(const QString& path, OpenMode mode);
    void connect();
    void disconnect();
    void bringUpToDate();

    StoreError sqlFailure(const QSqlError& error) const override;
    QString beginStatement() const override;
    void acquireRunLock() override;
    void releaseRunLock() override;
    bool runLockTaken() override;

    QString path_;
    QString connection_;
    RunLock lock_;
};

} // namespace fleet

#pragma once

#include "fleet/FleetStore.h"
#include "fleet/RunLock.h"

#include <QHash>
#include <QSqlDatabase>
#include <QString>

#include <memory>

class QSqlQuery;

// The fleet store in one SQLite file of this machine (Qt's SQL module):
// WAL, every write one transaction synced to the disk before it counts, the
// layout's version in the file and the steps that bring an older one up.
namespace fleet {

class SqliteFleetStore final : public FleetStore
{
public:
    // Throws StoreError (see openStore).
    static std::unique_ptr<FleetStore> open(const QString& path, OpenMode mode);
    ~SqliteFleetStore() override;

    QString location() const override { return path_; }

    qint64 startRun(const QStringList& ports, const std::vector<Customer>& customers, const QDateTime& at) override;
    void resumeRun(qint64 id, const QStringList& ports, const QDateTime& at) override;
    void recordSession(qint64 runId, const SessionResult& result) override;
    void endRun(qint64 runId, RunEnd end, const QDateTime& at) override;

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

    SqliteFleetStore(const QString& path, OpenMode mode);
    void connect();
    void disconnect();
    void bringUpToDate();

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

    RunInfo runFrom(QSqlQuery& query);
    std::optional<RunInfo> oneRun(const QString& where, qint64 id);
    BoxState boxFrom(QSqlQuery& query) const;

    QString path_;
    OpenMode mode_;
    QString connection_;
    QSqlDatabase db_;
    RunLock lock_;
    qint64 activeRun_ = 0;
    QHash<int, int> positions_; // the active run's cards by their place in it
};

} // namespace fleet

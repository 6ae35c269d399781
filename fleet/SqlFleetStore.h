#pragma once

#include "fleet/FleetStore.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <map>

class QSqlError;

// What the store's two homes share, the file of one machine (SQLite) and the
// server of several (PostgreSQL): the same tables, and every statement that
// records a run and reads it back, in SQL that both engines speak. A home
// opens its database, brings its layout up to date and says how a
// transaction starts, how its engine's errors read to the operator, and how
// one audit at a time holds the store.
namespace fleet {

class SqlFleetStore : public FleetStore
{
public:
    QString location() const override { return where_; }

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

protected:
    // `where` names the store in messages: a file's path, a server's address
    // without password.
    SqlFleetStore(const QString& where, OpenMode mode);

    // ---- what each home says
    virtual StoreError sqlFailure(const QSqlError& error) const = 0;
    // The statement that starts a write's transaction.
    virtual QString beginStatement() const = 0;
    // What a SELECT of a row about to be changed ends with, so that another
    // writer waits for this one (nothing where there is one writer at a time).
    virtual QString forUpdate() const { return QString(); }
    // The run lock: one audit at a time starts or resumes a run on the store.
    virtual void acquireRunLock() = 0;
    virtual void releaseRunLock() = 0;
    // Whether some process (this one included) holds it.
    virtual bool runLockTaken() = 0;

    // ---- statements that throw the home's StoreError
    QSqlQuery prepare(const QString& sql);
    void exec(QSqlQuery& query);
    QSqlQuery statement(const QString& sql);
    // An INSERT ... RETURNING id run: the id of the row it made.
    qint64 insertedId(QSqlQuery& insert);

    // A statement that every session runs, prepared once for as long as the
    // connection lasts (a server prepares a statement with a round trip of
    // its own and forgets it with another). The holder finishes it when it
    // goes, so no unread row keeps a reading open and the next holder finds
    // it ready for its values.
    class Kept
    {
    public:
        explicit Kept(QSqlQuery& query)
            : query_(query)
        {
        }
        ~Kept() { query_.finish(); }
        Kept(const Kept&) = delete;
        Kept& operator=(const Kept&) = delete;
        QSqlQuery* operator->() const { return &query_; }
        QSqlQuery& operator*() const { return query_; }

    private:
        QSqlQuery& query_;
    };
    Kept kept(const QString& sql);
    // Before the connection closes.
    void forgetKept() { kept_.clear(); }

    // Rolled back unless committed.
    class Transaction
    {
    public:
        explicit Transaction(SqlFleetStore& store);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        void commit();

    private:
        SqlFleetStore& store_;
        bool open_ = true;
    };

    void checkWritable(const char* what) const;
    void checkActiveRun(qint64 runId) const;
    void loadPositions(qint64 runId);
    void validate(const SessionResult& result) const;
    // The session, its version, the box's state and the customer's place in
    // the run, inside the caller's transaction.
    void writeSession(qint64 runId, int position, const SessionResult& result);

    QString where_;
    OpenMode mode_;
    QSqlDatabase db_;
    qint64 activeRun_ = 0;
    QHash<int, int> positions_; // the active run's cards by their place in it

private:
    std::map<QString, QSqlQuery> kept_; // by their SQL
    struct BoxRow;

    qint64 insertRun(const QStringList& ports, int customers, const QDateTime& at);
    void insertRunCustomers(qint64 runId, const std::vector<Customer>& customers);
    BoxRow findOrMakeBox(const Customer& customer);
    qint64 keepVersion(qint64 boxId, const SessionResult& result);
    qint64 insertSession(qint64 runId, const BoxRow& box, const SessionResult& result, qint64 versionId);
    void insertDifferences(qint64 sessionId, const std::vector<FieldDifference>& differences);
    void updateBox(const BoxRow& box, const SessionResult& result);

    RunInfo runFrom(QSqlQuery& query);
    std::optional<RunInfo> oneRun(const QString& where, qint64 id);
    QHash<qint64, std::vector<FieldDifference>> differencesOf(const QString& sessionIds, const QVariant& key);
};

} // namespace fleet

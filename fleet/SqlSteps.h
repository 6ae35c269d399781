#pragma once

#include "fleet/FleetStore.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <vector>

class QSqlError;

// Statements on a store's database (the file's or the server's) that throw
// the store's StoreError when they fail, the transaction every write runs
// in, and the layout's steps. What a failure means is the database's own
// business: each store passes the function that turns the driver's error
// into the operator's words.
namespace fleet::sql {

using Failure = StoreError (*)(const QString& where, const QSqlError& error);

// A statement prepared for values to be bound.
QSqlQuery prepare(QSqlDatabase& db, const QString& where, const QString& sql, Failure failure);
void exec(QSqlQuery& query, const QString& where, Failure failure);
// A statement without values, run at once.
QSqlQuery run(QSqlDatabase& db, const QString& where, const QString& sql, Failure failure);

// Opened by `begin`; rolled back unless committed.
class Transaction
{
public:
    Transaction(QSqlDatabase& db, const QString& where, const QString& begin, Failure failure);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    QSqlDatabase& db_;
    const QString& where_;
    Failure failure_;
    bool open_ = true;
};

// One step of a layout: the layout it leaves and its statements. A layout is
// never changed in place but by a new step at the end of the list.
struct Migration
{
    int to = 0; // the layout this step leaves
    QStringList statements;
};

// What a database holds: nothing yet, a store (of which layout), or the
// tables of something else.
struct Identity
{
    enum class Kind { Empty, Store, Foreign };
    Kind kind = Kind::Empty;
    int version = 0; // for Store
};

// Runs the statements of the steps past `from`, in the transaction the
// caller holds; the layout reached.
int runSteps(QSqlDatabase& db, const QString& where, int from, const std::vector<Migration>& steps, Failure failure);

} // namespace fleet::sql

// The same on the store's SQLite file, its failures told by the file's path
// (fleet/StoreFailure.h).
namespace fleet::sqlite {

QSqlQuery prepare(QSqlDatabase& db, const QString& path, const QString& sql);
void exec(QSqlQuery& query, const QString& path);
QSqlQuery run(QSqlDatabase& db, const QString& path, const QString& sql);

// BEGIN IMMEDIATE: the write lock is taken at the start, so a write never
// fails half-way for another writer. Rolled back unless committed.
class Transaction : public sql::Transaction
{
public:
    Transaction(QSqlDatabase& db, const QString& path);
};

} // namespace fleet::sqlite

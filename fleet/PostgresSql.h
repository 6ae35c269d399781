#pragma once

#include "fleet/FleetStore.h"
#include "fleet/PostgresAddress.h"
#include "fleet/SqlSteps.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <vector>

class QSqlError;

// The fleet store's statements on a PostgreSQL server: each throws the
// store's StoreError when it fails, in the operator's words and naming the
// store by its address (never a password); the transaction every write runs
// in; the layout and the steps that bring an older one up.
namespace fleet::pg {

// The server's answer as a StoreError: the server's own reason is kept
// (a server down, a role refused, a database missing, no rights, a full disk).
StoreError failure(const QString& where, const QSqlError& error);
// A database that holds tables of something else.
StoreError foreignDatabase(const QString& where);
// The same for a connection that could not be made.
StoreError connectFailure(const QString& where, const QSqlError& error);

// A connection to the server `address` names, opened: texts travel as
// UTF-8 whatever the server's locale. Throws StoreError.
QSqlDatabase connect(const QString& name, const PostgresAddress& address);

QSqlQuery prepare(QSqlDatabase& db, const QString& where, const QString& sql);
void exec(QSqlQuery& query, const QString& where);
QSqlQuery run(QSqlDatabase& db, const QString& where, const QString& sql);
// The first column of the first row of `sql` run at once.
QVariant value(QSqlDatabase& db, const QString& where, const QString& sql);

// Rolled back unless committed.
class Transaction : public sql::Transaction
{
public:
    Transaction(QSqlDatabase& db, const QString& where);
};

// The layout, in the database's current schema. The store says what it is,
// and which layout it has, in its table pradix_store; a layout is never
// changed in place but by a new step at the end of the list, like the file's.
using Migration = sql::Migration;
const std::vector<Migration>& migrations();
int currentVersion();

using Identity = sql::Identity;
Identity identify(QSqlDatabase& db, const QString& where);

// Brings the layout up to date in one transaction, under a lock that makes
// runners opening an empty database together wait for the first one's steps.
void bringUp(QSqlDatabase& db, const QString& where, const std::vector<Migration>& steps = migrations());

// The advisory locks' first key: "PRDX".
constexpr int LockSpace = 0x50524458;
constexpr int SchemaLock = 1;
constexpr int RunLockKey = 2;

} // namespace fleet::pg

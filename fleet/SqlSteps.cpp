#include "fleet/SqlSteps.h"

#include "fleet/StoreFailure.h"

#include <QSqlError>

namespace fleet::sql {

QSqlQuery prepare(QSqlDatabase& db, const QString& where, const QString& sql, Failure failure)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        throw failure(where, query.lastError());
    return query;
}

void exec(QSqlQuery& query, const QString& where, Failure failure)
{
    if (!query.exec())
        throw failure(where, query.lastError());
}

QSqlQuery run(QSqlDatabase& db, const QString& where, const QString& sql, Failure failure)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        throw failure(where, query.lastError());
    return query;
}

Transaction::Transaction(QSqlDatabase& db, const QString& where, const QString& begin, Failure failure)
    : db_(db)
    , where_(where)
    , failure_(failure)
{
    run(db_, where_, begin, failure_);
}

Transaction::~Transaction()
{
    // After a full disk, an I/O error or a lost connection the database may
    // have rolled back on its own already; a rollback with nothing open is
    // harmless then.
    if (open_)
        QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
}

void Transaction::commit()
{
    run(db_, where_, QStringLiteral("COMMIT"), failure_);
    open_ = false;
}

int runSteps(QSqlDatabase& db, const QString& where, int from, const std::vector<Migration>& steps, Failure failure)
{
    int reached = from;
    for (const Migration& step : steps) {
        if (step.to <= from)
            continue;
        for (const QString& statement : step.statements)
            run(db, where, statement, failure);
        reached = step.to;
    }
    return reached;
}

} // namespace fleet::sql

namespace fleet::sqlite {

QSqlQuery prepare(QSqlDatabase& db, const QString& path, const QString& sql)
{
    return sql::prepare(db, path, sql, failure::fromSql);
}

void exec(QSqlQuery& query, const QString& path)
{
    sql::exec(query, path, failure::fromSql);
}

QSqlQuery run(QSqlDatabase& db, const QString& path, const QString& sql)
{
    return sql::run(db, path, sql, failure::fromSql);
}

Transaction::Transaction(QSqlDatabase& db, const QString& path)
    : sql::Transaction(db, path, QStringLiteral("BEGIN IMMEDIATE"), failure::fromSql)
{
}

} // namespace fleet::sqlite

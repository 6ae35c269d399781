#include "fleet/SqlSteps.h"

#include "fleet/StoreFailure.h"

#include <QSqlError>

namespace fleet::sqlite {

QSqlQuery prepare(QSqlDatabase& db, const QString& path, const QString& sql)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        throw failure::fromSql(path, query.lastError());
    return query;
}

void exec(QSqlQuery& query, const QString& path)
{
    if (!query.exec())
        throw failure::fromSql(path, query.lastError());
}

QSqlQuery run(QSqlDatabase& db, const QString& path, const QString& sql)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        throw failure::fromSql(path, query.lastError());
    return query;
}

Transaction::Transaction(QSqlDatabase& db, const QString& path)
    : db_(db)
    , path_(path)
{
    run(db_, path_, QStringLiteral("BEGIN IMMEDIATE"));
}

Transaction::~Transaction()
{
    // After a full disk or an I/O error the engine may have rolled back on
    // its own already; a rollback with nothing open is harmless then.
    if (open_)
        QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
}

void Transaction::commit()
{
    run(db_, path_, QStringLiteral("COMMIT"));
    open_ = false;
}

} // namespace fleet::sqlite

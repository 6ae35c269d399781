#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

// Statements on the store's database that throw the store's StoreError
// (fleet/StoreFailure.h) when they fail, and the transaction every write
// runs in.
namespace fleet::sqlite {

// A statement prepared for values to be bound.
QSqlQuery prepare(QSqlDatabase& db, const QString& path, const QString& sql);
void exec(QSqlQuery& query, const QString& path);
// A statement without values, run at once.
QSqlQuery run(QSqlDatabase& db, const QString& path, const QString& sql);

// BEGIN IMMEDIATE: the write lock is taken at the start, so a write never
// fails half-way for another writer. Rolled back unless committed.
class Transaction
{
public:
    Transaction(QSqlDatabase& db, const QString& path);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    QSqlDatabase& db_;
    const QString& path_;
    bool open_ = true;
};

} // namespace fleet::sqlite

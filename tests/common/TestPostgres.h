#pragma once

// The run's own PostgreSQL server (tests/common/pg-cluster, started and
// stopped by ctest's "postgres" fixture, which sets PRADIX_TEST_PG to the
// file naming its socket folder) and a new empty database on it per test.
// A runner started by hand without the fixture has no server: the tests
// that need one are skipped then, and say so.

#include <QAtomicInt>
#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <unistd.h>

namespace testpg {

// The socket folder of the run's server; empty when the runner has none.
// A fixture that names a file that cannot be read is a failure, not a skip.
inline QString socketFolder()
{
    const QString state = QString::fromLocal8Bit(qgetenv("PRADIX_TEST_PG"));
    if (state.isEmpty())
        return QString();
    QFile file(state);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "PRADIX_TEST_PG names " << state.toStdString() << ", which cannot be read";
        return QString();
    }
    return QString::fromLocal8Bit(file.readAll()).trimmed();
}

// Runs `sql` as the server's superuser "pradix" on `database`; false (and a
// test failure naming the statement) when one fails. `firstValue` gets the
// first value of the last statement that gives one.
inline bool superuser(const QString& database, const QStringList& sql, QString* firstValue = nullptr)
{
    static QAtomicInt next;
    const QString name = QStringLiteral("testpg-%1").arg(next.fetchAndAddRelaxed(1));
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(socketFolder());
        db.setUserName(QStringLiteral("pradix"));
        db.setDatabaseName(database);
        if (!db.open()) {
            ADD_FAILURE() << "the test server: " << db.lastError().text().toStdString();
            ok = false;
        }
        for (const QString& statement : sql) {
            if (!ok)
                break;
            QSqlQuery query(db);
            if (!query.exec(statement)) {
                ADD_FAILURE() << statement.toStdString() << ": " << query.lastError().text().toStdString();
                ok = false;
            } else if (firstValue && query.next()) {
                *firstValue = query.value(0).toString();
            }
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

// A new empty database on the run's server, owned by "pradix", dropped at the end.
class Database
{
public:
    Database()
    {
        static QAtomicInt next;
        name_ = QStringLiteral("t%1_%2").arg(::getpid()).arg(next.fetchAndAddRelaxed(1));
        made_ = !socketFolder().isEmpty() && superuser(QStringLiteral("postgres"), { QStringLiteral("CREATE DATABASE ") + name_ });
    }
    ~Database()
    {
        if (made_)
            superuser(QStringLiteral("postgres"), { QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(name_) });
    }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    bool made() const { return made_; }
    const QString& name() const { return name_; }
    // The store's address for `user` (the superuser by default).
    QString url(const QString& user = QStringLiteral("pradix")) const
    {
        return QStringLiteral("postgresql://%1@/%2?host=%3").arg(user, name_, socketFolder());
    }
    bool exec(const QStringList& sql) const { return superuser(name_, sql); }
    // The first value `sql` gives, as text; empty when it gives none.
    QString value(const QString& sql) const
    {
        QString found;
        superuser(name_, { sql }, &found);
        return found;
    }

private:
    QString name_;
    bool made_ = false;
};

} // namespace testpg

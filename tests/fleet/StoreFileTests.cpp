#include "StoreTestData.h"

#include "fleet/SqliteSchema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

using namespace fleet;
using namespace storetest;

namespace {

class StoreFile : public ::testing::Test
{
protected:
    QByteArray bytes() const
    {
        QFile file(path_);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    StoreError openFails(OpenMode mode = OpenMode::Write) const
    {
        try {
            openStore(path_, mode);
        } catch (const StoreError& error) {
            EXPECT_TRUE(error.message.contains(path_)) << error.message.toStdString();
            return error;
        }
        ADD_FAILURE() << "the store opened";
        return {};
    }
    // `sql` run on the file as a plain database, outside the store.
    void onFile(const QStringList& sql, QString* firstValue = nullptr) const
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test"));
            db.setDatabaseName(path_);
            ASSERT_TRUE(db.open());
            for (const QString& statement : sql) {
                QSqlQuery query(db);
                ASSERT_TRUE(query.exec(statement)) << statement.toStdString();
                if (firstValue && query.next())
                    *firstValue = query.value(0).toString();
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("test"));
    }
    QString value(const QString& sql) const
    {
        QString found;
        onFile({ sql }, &found);
        return found;
    }
    // Sessions whose every part was recorded: its differences, its version,
    // its place in the run. Only whole ones may be found after a stop.
    void expectWholeSessions(int atLeast) const
    {
        EXPECT_EQ(value(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        const int sessions = value(QStringLiteral("SELECT count(*) FROM sessions")).toInt();
        EXPECT_GE(sessions, atLeast);
        EXPECT_EQ(value(QStringLiteral("SELECT count(*) FROM differences")).toInt(), 2 * sessions);
        EXPECT_EQ(value(QStringLiteral("SELECT sum(times_seen) FROM versions")).toInt(), sessions);
        EXPECT_EQ(value(QStringLiteral("SELECT sum(attempts) FROM run_customers")).toInt(), sessions);
        EXPECT_EQ(value(QStringLiteral("SELECT count(*) FROM boxes b WHERE last_audit ="
                                       " (SELECT max(ended) FROM sessions WHERE box_id = b.id)")),
                  value(QStringLiteral("SELECT count(*) FROM boxes")));
    }

    QTemporaryDir folder_;
    QString path_ = folder_.filePath(QStringLiteral("fleet.sqlite"));
};

TEST_F(StoreFile, ANewStoreIsTheUsersAloneAndReadingMakesNothing)
{
    path_ = folder_.filePath(QStringLiteral("pradix/fleet.sqlite"));
    EXPECT_EQ(openFails(OpenMode::Read).kind, StoreError::Kind::Missing);
    EXPECT_FALSE(QFileInfo::exists(folder_.filePath(QStringLiteral("pradix"))));

    auto store = openStore(path_, OpenMode::Write);
    store->startRun({}, { customer(1, QStringLiteral("0301")) }, night(0));
    for (const QString& file : { path_, path_ + QStringLiteral("-wal"), path_ + QStringLiteral("-shm"),
                                 path_ + QStringLiteral(".lock") }) {
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &info), 0) << file.toStdString();
        EXPECT_EQ(info.st_mode & 0777, 0600u) << file.toStdString();
    }
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(folder_.filePath(QStringLiteral("pradix"))).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(StoreFile, WhatIsNoStoreOfThisPradixIsRefusedUntouched)
{
    QFile text(path_);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write(QByteArray("RUBRICA ").repeated(600));
    text.close();
    const QByteArray before = bytes();
    EXPECT_EQ(openFails().kind, StoreError::Kind::NotAStore);
    EXPECT_EQ(bytes(), before);

    ASSERT_TRUE(QFile::remove(path_));
    onFile({ QStringLiteral("CREATE TABLE ricette (nome TEXT)") });
    const QByteArray foreign = bytes();
    EXPECT_EQ(openFails().kind, StoreError::Kind::NotAStore);
    EXPECT_EQ(bytes(), foreign);

    ASSERT_TRUE(QFile::remove(path_));
    ASSERT_TRUE(QDir().mkdir(path_));
    EXPECT_EQ(openFails().kind, StoreError::Kind::NotAStore);
    EXPECT_EQ(QDir(folder_.path()).entryList(QDir::Files), QStringList());
}

// The first layout is made from an empty file by the same steps that bring
// an older store up; a step that fails leaves the store as it was; a layout
// newer than this Pradix knows is refused untouched.
TEST_F(StoreFile, OlderLayoutsAreBroughtUpAndNewerOnesRefused)
{
    QFile empty(path_);
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    EXPECT_EQ(openFails(OpenMode::Read).kind, StoreError::Kind::Missing);
    {
        auto store = openStore(path_, OpenMode::Write);
        const Customer who = customer(1, QStringLiteral("0301"));
        const qint64 id = store->startRun({}, { who }, night(0));
        store->recordSession(id, session(who, Outcome::Same, night(0)));
    }
    EXPECT_EQ(value(QStringLiteral("PRAGMA user_version")).toInt(), sqlite::currentVersion());

    std::vector<sqlite::Migration> steps = sqlite::migrations();
    steps.push_back({ 2, { QStringLiteral("ALTER TABLE boxes ADD COLUMN note TEXT"),
                           QStringLiteral("UPDATE boxes SET note = 'x'") } });
    steps.push_back({ 3, { QStringLiteral("CREATE TABLE cards (n INTEGER)"), QStringLiteral("CREATE TABLE cards (n)") } });
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("steps"));
        db.setDatabaseName(path_);
        ASSERT_TRUE(db.open());
        sqlite::bringUp(db, path_, 1, { steps.begin(), steps.end() - 1 });
        EXPECT_THROW(sqlite::bringUp(db, path_, 2, steps), StoreError);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("steps"));
    EXPECT_EQ(value(QStringLiteral("PRAGMA user_version")), QStringLiteral("2"));
    EXPECT_EQ(value(QStringLiteral("SELECT note FROM boxes WHERE number = '0301'")), QStringLiteral("x"));
    EXPECT_EQ(value(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'cards'")), QStringLiteral("0"));

    const QByteArray before = bytes();
    EXPECT_EQ(openFails().kind, StoreError::Kind::NewerSchema);
    EXPECT_EQ(openFails(OpenMode::Read).kind, StoreError::Kind::NewerSchema);
    EXPECT_EQ(bytes(), before);
}

TEST_F(StoreFile, AStoreThatCannotBeWrittenIsToldSoAndStillRead)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes whatever the modes say";
    {
        auto store = openStore(path_, OpenMode::Write);
        store->startRun({}, { customer(1, QStringLiteral("0301")) }, night(0));
    }
    ASSERT_EQ(::chmod(QFile::encodeName(path_).constData(), 0400), 0);
    EXPECT_EQ(openFails().kind, StoreError::Kind::ReadOnly);
    EXPECT_EQ(openStore(path_, OpenMode::Read)->lastRun()->customers, 1);

    ASSERT_EQ(::chmod(QFile::encodeName(path_).constData(), 0600), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder_.path()).constData(), 0500), 0);
    EXPECT_EQ(openFails().kind, StoreError::Kind::ReadOnly);
    EXPECT_EQ(openStore(path_, OpenMode::Read)->lastRun()->customers, 1);
    ASSERT_EQ(::chmod(QFile::encodeName(folder_.path()).constData(), 0700), 0);
}

TEST_F(StoreFile, AWriterKilledMidSessionLeavesWholeSessionsOnly)
{
    int acknowledged = 0;
    for (int told : { 1, 7, 23, 40 }) {
        QProcess child;
        child.start(QStringLiteral(PRADIX_STORE_CHILD), { QStringLiteral("record"), path_ });
        int seen = 0;
        while (seen < told && child.waitForReadyRead(20000))
            while (child.canReadLine())
                seen = child.readLine().trimmed().toInt();
        ASSERT_GE(seen, told) << child.readAllStandardOutput().toStdString();
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished();
        seen = std::max(seen, child.readAllStandardOutput().trimmed().split('\n').last().toInt());
        acknowledged += seen;
        expectWholeSessions(acknowledged);
    }
}

TEST_F(StoreFile, AFullDiskStopsTheWriteAndKeepsEverySessionBefore)
{
    QProcess child;
    child.start(QStringLiteral(PRADIX_STORE_CHILD), { QStringLiteral("fill"), path_, QStringLiteral("600000") });
    ASSERT_TRUE(child.waitForFinished(60000));
    const QList<QByteArray> lines = child.readAllStandardOutput().trimmed().split('\n');
    ASSERT_TRUE(lines.last().startsWith("kind " + QByteArray::number(int(StoreError::Kind::Full))))
        << lines.last().toStdString();
    const int recorded = lines.size() - 1;
    EXPECT_GT(recorded, 0);
    expectWholeSessions(recorded);
    EXPECT_EQ(value(QStringLiteral("SELECT count(*) FROM sessions")).toInt(), recorded);

    auto store = openStore(path_, OpenMode::Write);
    const Customer who = customer(1, QStringLiteral("0301"));
    const qint64 id = store->startRun({}, { who }, night(1));
    EXPECT_NO_THROW(store->recordSession(id, session(who, Outcome::Same, night(1))));
}

} // namespace

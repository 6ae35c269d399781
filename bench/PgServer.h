#pragma once

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A PostgreSQL server of the benchmark's own on this machine (a Unix socket
// in a temporary folder, as the test run's, but with the settings of a
// freshly installed server: every commit on the disk before it is answered),
// started by the tests' script and stopped however the benchmark ends but a
// kill; and databases on it. When
// PRADIX_PG_STATE names a file, the server's folder is written there, so
// scripts/bench and scripts/soak stop it on their way out even when the
// program was stopped by a signal.
namespace bench {

class PgServer
{
public:
    PgServer()
    {
        state_ = qEnvironmentVariable("PRADIX_PG_STATE");
        if (state_.isEmpty())
            state_ = folder_.filePath(QStringLiteral("state"));
        ok_ = script({ QStringLiteral("start"), state_, QStringLiteral("durable") }) && readState();
    }
    ~PgServer() { script({ QStringLiteral("stop"), state_ }); }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    bool ok() const { return ok_; }
    // SQL run as the server's superuser on `database`; false when it fails.
    bool sql(const QString& database, const QString& statement) const
    {
        return QProcess::execute(QStringLiteral("psql"), { QStringLiteral("-qX"), QStringLiteral("-v"),
                                                          QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-o"),
                                                          QStringLiteral("/dev/null"), QStringLiteral("-h"),
                                                          socketFolder_, QStringLiteral("-U"), QStringLiteral("pradix"),
                                                          QStringLiteral("-d"), database, QStringLiteral("-c"), statement })
            == 0;
    }
    bool createDatabase(const QString& name) const
    {
        return sql(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE ") + name);
    }
    QString url(const QString& database) const
    {
        return QStringLiteral("postgresql://pradix@/%1?host=%2").arg(database, socketFolder_);
    }

private:
    static bool script(const QStringList& arguments)
    {
        return QProcess::execute(QStringLiteral(PRADIX_PG_CLUSTER), arguments) == 0;
    }
    bool readState()
    {
        QFile state(state_);
        if (!state.open(QIODevice::ReadOnly))
            return false;
        socketFolder_ = QString::fromLocal8Bit(state.readAll()).trimmed();
        return !socketFolder_.isEmpty();
    }

    QTemporaryDir folder_;
    QString state_;
    QString socketFolder_;
    bool ok_ = false;
};

} // namespace bench

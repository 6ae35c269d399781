#include "fleet/StoreCopy.h"

#include "fleet/FleetStore.h"
#include "fleet/PostgresAddress.h"
#include "fleet/PostgresSql.h"
#include "fleet/StoreFailure.h"

#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>

#include <atomic>

namespace fleet {

namespace {

// The tables in an order that keeps every reference to an earlier one, and
// the key each is compared by. A box's current version refers forward: the
// boxes go in without it and get it once the versions are there.
struct TableInfo
{
    const char* name;
    const char* key;
};
const TableInfo tables[] = {
    { "runs", "id" },
    { "boxes", "id" },
    { "versions", "id" },
    { "sessions", "id" },
    { "run_customers", "run_id, position" },
    { "differences", "session_id, position" },
};

// A connection of the copy's own to a store that openStore has already
// checked (its kind, its layout brought up to date).
class Connection
{
public:
    explicit Connection(const QString& location)
        : where_(location)
        , name_(QStringLiteral("pradix-copy-%1").arg(next_++))
    {
        server_ = isPostgresLocation(location);
        if (server_) {
            const PostgresAddress address = parsePostgresAddress(location);
            where_ = address.display();
            db_ = pg::connect(name_, address);
            return;
        }
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db_.setDatabaseName(location);
        db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        if (!db_.open())
            throw failure::fromSql(where_, db_.lastError());
    }
    ~Connection()
    {
        if (open_)
            QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
        db_.close();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(name_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    QSqlQuery run(const QString& sql)
    {
        QSqlQuery query(db_);
        query.setForwardOnly(true);
        if (!query.exec(sql))
            throw error(query.lastError());
        return query;
    }
    QSqlQuery prepare(const QString& sql)
    {
        QSqlQuery query(db_);
        query.setForwardOnly(true);
        if (!query.prepare(sql))
            throw error(query.lastError());
        return query;
    }
    void exec(QSqlQuery& query)
    {
        if (!query.exec())
            throw error(query.lastError());
    }
    // One consistent view for reading, or the one write that is all or nothing.
    void begin(bool writing)
    {
        if (server_)
            run(writing ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
        else
            run(writing ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
        open_ = true;
    }
    void commit()
    {
        run(QStringLiteral("COMMIT"));
        open_ = false;
    }
    bool server() const { return server_; }
    const QString& where() const { return where_; }

private:
    StoreError error(const QSqlError& sqlError) const
    {
        return server_ ? pg::failure(where_, sqlError) : failure::fromSql(where_, sqlError);
    }

    static inline std::atomic<int> next_ { 0 };
    QString where_;
    QString name_;
    QSqlDatabase db_;
    bool server_ = false;
    bool open_ = false;
};

qint64 count(Connection& connection, const TableInfo& table)
{
    QSqlQuery query = connection.run(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table.name)));
    return query.next() ? query.value(0).toLongLong() : 0;
}

// A value as both engines give it back: bytes as bytes, numbers and texts
// as text, NULL apart from any text.
void addValue(QCryptographicHash& hash, const QVariant& value)
{
    if (value.isNull())
        hash.addData("\x01N");
    else if (value.typeId() == QMetaType::QByteArray)
        hash.addData(QByteArray("\x02") + value.toByteArray().toHex());
    else
        hash.addData(QByteArray("\x03") + value.toString().toUtf8());
    hash.addData(QByteArrayView("\0", 1));
}

// The table's contents, row by row in key order, as one digest; the columns
// are taken in the order `columns` names them.
QByteArray contents(Connection& connection, const TableInfo& table, const QStringList& columns)
{
    QSqlQuery query = connection.run(QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                                         .arg(columns.join(QStringLiteral(", ")), QLatin1String(table.name),
                                              QLatin1String(table.key)));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    while (query.next()) {
        for (int i = 0; i < columns.size(); ++i)
            addValue(hash, query.value(i));
        hash.addData(QByteArrayView("\n", 1));
    }
    return hash.result();
}

QStringList columnsOf(const QSqlRecord& record)
{
    QStringList columns;
    for (int i = 0; i < record.count(); ++i)
        columns << record.fieldName(i);
    return columns;
}

// The columns both stores keep: the server's store keeps besides the claims
// of a run that several runners share, which are of no use anywhere else.
QStringList commonColumns(Connection& source, Connection& target, const TableInfo& table)
{
    const QString none = QStringLiteral("SELECT * FROM %1 WHERE 1 = 0").arg(QLatin1String(table.name));
    const QStringList theirs = columnsOf(target.run(none).record());
    QStringList common;
    for (const QString& column : columnsOf(source.run(none).record()))
        if (theirs.contains(column))
            common << column;
    return common;
}

qint64 copyTable(Connection& source, Connection& target, const TableInfo& table, QStringList& columns)
{
    columns = commonColumns(source, target, table);
    QSqlQuery read = source.run(QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                                    .arg(columns.join(QStringLiteral(", ")), QLatin1String(table.name),
                                         QLatin1String(table.key)));
    const int versionColumn = QLatin1String(table.name) == QLatin1String("boxes")
        ? int(columns.indexOf(QStringLiteral("version_id")))
        : -1;
    QStringList marks;
    for (int i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    QSqlQuery write = target.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                         .arg(QLatin1String(table.name), columns.join(QStringLiteral(", ")),
                                              marks.join(QStringLiteral(", "))));
    qint64 rows = 0;
    while (read.next()) {
        for (int i = 0; i < columns.size(); ++i)
            write.bindValue(i, i == versionColumn ? QVariant() : read.value(i));
        target.exec(write);
        ++rows;
    }
    return rows;
}

void linkBoxVersions(Connection& source, Connection& target)
{
    QSqlQuery read = source.run(QStringLiteral("SELECT id, version_id FROM boxes WHERE version_id IS NOT NULL"));
    QSqlQuery write = target.prepare(QStringLiteral("UPDATE boxes SET version_id = ? WHERE id = ?"));
    while (read.next()) {
        write.bindValue(0, read.value(1));
        write.bindValue(1, read.value(0));
        target.exec(write);
    }
}

// The server gives the next rows ids after the copied ones.
void moveIdsOn(Connection& target)
{
    for (const char* name : { "runs", "boxes", "versions", "sessions" })
        target.run(QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', 'id'),"
                                  " COALESCE((SELECT max(id) FROM %1), 0) + 1, false)")
                       .arg(QLatin1String(name)));
}

StoreError notCopied(const QString& where, const QString& why)
{
    return failure::other(where, QStringLiteral("copia non riuscita, l'archivio di destinazione è rimasto com'era: %1")
                                     .arg(why));
}

} // namespace

std::vector<CopiedTable> copyStore(const QString& from, const QString& to)
{
    // Each is checked (kind, layout, a newer one refused) and brought up to
    // date by the store itself; the target is made if missing.
    const QString fromShown = openStore(from, OpenMode::Read)->location();
    const QString toShown = openStore(to, OpenMode::Write)->location();
    if (fromShown == toShown)
        throw failure::other(toShown, QStringLiteral("l'archivio di partenza e quello di destinazione coincidono"));

    Connection source(from);
    Connection target(to);
    target.begin(true);
    for (const TableInfo& table : tables)
        if (count(target, table) != 0)
            throw failure::other(target.where(), QStringLiteral("l'archivio di destinazione non è vuoto (tabella %1): "
                                                                "non è stato modificato")
                                                     .arg(QLatin1String(table.name)));
    source.begin(false);
    std::vector<CopiedTable> copied;
    std::vector<QStringList> columns(std::size(tables));
    for (size_t i = 0; i < std::size(tables); ++i) {
        copied.push_back({ QLatin1String(tables[i].name), copyTable(source, target, tables[i], columns[i]) });
        if (QLatin1String(tables[i].name) == QLatin1String("versions"))
            linkBoxVersions(source, target);
    }
    if (target.server())
        moveIdsOn(target);
    // What the target now holds, before it counts.
    for (size_t i = 0; i < std::size(tables); ++i) {
        const qint64 rows = count(target, tables[i]);
        if (rows != copied[i].rows || count(source, tables[i]) != rows)
            throw notCopied(target.where(), QStringLiteral("la tabella %1 ha %2 righe invece di %3")
                                                .arg(copied[i].name)
                                                .arg(rows)
                                                .arg(copied[i].rows));
        if (contents(source, tables[i], columns[i]) != contents(target, tables[i], columns[i]))
            throw notCopied(target.where(), QStringLiteral("il contenuto della tabella %1 è diverso").arg(copied[i].name));
    }
    target.commit();
    return copied;
}

} // namespace fleet

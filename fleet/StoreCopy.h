#pragma once

#include <QString>

#include <vector>

// A whole fleet store moved from one place to another (a file to a server,
// a server to a file, or alike): every row of every table with its ids, read
// from one consistent view of the source and written in one transaction,
// which is committed only when the target holds, table by table, as many
// rows as the source and the same contents. The target must be empty (a new
// file, an empty database, or a store with no run and no box yet).
namespace fleet {

struct CopiedTable
{
    QString name;
    qint64 rows = 0;
};

// Throws StoreError; the target is then as it was.
std::vector<CopiedTable> copyStore(const QString& from, const QString& to);

} // namespace fleet

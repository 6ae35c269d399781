#pragma once

#include "fleet/SqlSteps.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <vector>

// The layout of the store's SQLite file and the steps that bring an older
// one up to date. The file says what it is by its application id and which
// layout it has by its user version; a layout is never changed in place but
// by a new step at the end of the list, so that a store written by any
// earlier Pradix is brought up, in one transaction, and one written by a
// later Pradix is refused untouched.
namespace fleet::sqlite {

// "PRDX": a file with another id is no fleet store.
constexpr int ApplicationId = 0x50524458;

using Migration = sql::Migration;

// Every step from an empty file on; the last one's `to` is the layout this
// Pradix writes.
const std::vector<Migration>& migrations();
int currentVersion();

// What a file opened as a database holds.
using Identity = sql::Identity;
// Reads the file's header and catalogue (nothing is written). Throws
// StoreError (NotAStore for a file that is not a database).
Identity identify(QSqlDatabase& db, const QString& path);

// Runs the steps past `from` in one transaction, the layout's version with
// them. Throws StoreError; the file is then as it was.
void bringUp(QSqlDatabase& db, const QString& path, int from, const std::vector<Migration>& steps = migrations());

} // namespace fleet::sqlite

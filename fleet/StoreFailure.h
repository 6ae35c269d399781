#pragma once

#include "fleet/FleetStore.h"

#include <QString>

class QSqlError;

// The store's failures in the operator's words, each naming the store.
namespace fleet::failure {

StoreError missing(const QString& path);
// A store file made but never written (a machine stopped as it was made).
StoreError empty(const QString& path);
StoreError notAStore(const QString& path, const QString& why = QString());
StoreError newerSchema(const QString& path, int found, int known);
StoreError readOnly(const QString& path, const QString& why);
StoreError busy(const QString& path, qint64 holderPid);
StoreError other(const QString& path, const QString& why);

// A system call on the store's files failed with `errorNumber`.
StoreError fromErrno(const QString& path, int errorNumber);
// A statement of the database failed: the result code of the engine says
// which Kind (a full disk, a file that is not a database, one not writable).
StoreError fromSql(const QString& path, const QSqlError& error);

} // namespace fleet::failure

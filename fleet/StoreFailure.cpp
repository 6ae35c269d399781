#include "fleet/StoreFailure.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fleet::failure {

namespace {

StoreError make(StoreError::Kind kind, const QString& message)
{
    StoreError error;
    error.kind = kind;
    error.message = message;
    return error;
}

// The engine's primary result codes the store tells apart.
enum SqliteCode {
    Perm = 3,
    Busy = 5,
    Locked = 6,
    ReadOnlyCode = 8,
    IoErr = 10,
    Corrupt = 11,
    Full = 13,
    CantOpen = 14,
    NotADb = 26,
};

// The engine tells a write it could not finish as an I/O error whatever the
// cause: whether the disk (or the space this user may take, or the size
// this process may give a file) is full is asked of the disk itself, by a
// write of the same kind beside the store, in a file without a name that
// vanishes with its descriptor. The errno of that write is the answer.
int spaceProblem(const QString& path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    struct statvfs space {};
    if (::statvfs(folder.constData(), &space) == 0 && space.f_bavail == 0)
        return ENOSPC;
    const int fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return 0;
    const QByteArray piece(64 * 1024, '\0');
    int problem = 0;
    for (int written = 0; written < 16 && problem == 0; ++written) {
        const ssize_t n = ::write(fd, piece.constData(), size_t(piece.size()));
        if (n < 0)
            problem = errno;
        else if (n < piece.size())
            problem = ENOSPC;
    }
    ::close(fd);
    return problem == ENOSPC || problem == EDQUOT || problem == EFBIG ? problem : 0;
}

} // namespace

StoreError missing(const QString& path)
{
    return make(StoreError::Kind::Missing, QStringLiteral("L'archivio dei controlli \"%1\" non esiste.").arg(path));
}

StoreError empty(const QString& path)
{
    return make(StoreError::Kind::Missing,
                QStringLiteral("L'archivio dei controlli \"%1\" è vuoto: nessun controllo vi è ancora registrato.")
                    .arg(path));
}

StoreError notAStore(const QString& path, const QString& why)
{
    QString message = QStringLiteral("Il file \"%1\" non è un archivio dei controlli di Pradix").arg(path);
    if (!why.isEmpty())
        message += QStringLiteral(" (%1)").arg(why);
    message += QStringLiteral(": non è stato modificato.");
    return make(StoreError::Kind::NotAStore, message);
}

StoreError newerSchema(const QString& path, int found, int known)
{
    return make(StoreError::Kind::NewerSchema,
                QStringLiteral("L'archivio dei controlli \"%1\" è stato scritto da una versione più recente di Pradix "
                               "(formato %2, questa versione conosce fino al %3): non è stato modificato; "
                               "serve una versione aggiornata di Pradix.")
                    .arg(path)
                    .arg(found)
                    .arg(known));
}

StoreError readOnly(const QString& path, const QString& why)
{
    return make(StoreError::Kind::ReadOnly,
                QStringLiteral("Impossibile scrivere nell'archivio dei controlli \"%1\": %2.").arg(path, why));
}

StoreError busy(const QString& path, qint64 holderPid)
{
    StoreError error = make(StoreError::Kind::Busy,
                            holderPid > 0 ? QStringLiteral("Un altro controllo è in corso: l'archivio \"%1\" è in uso "
                                                           "dal processo %2.")
                                                .arg(path)
                                                .arg(holderPid)
                                          : QStringLiteral("L'archivio \"%1\" è in uso da un altro processo.").arg(path));
    error.holderPid = holderPid;
    return error;
}

StoreError other(const QString& path, const QString& why)
{
    return make(StoreError::Kind::Other, QStringLiteral("Errore nell'archivio dei controlli \"%1\": %2.").arg(path, why));
}

StoreError fromErrno(const QString& path, int errorNumber)
{
    switch (errorNumber) {
    case EACCES:
    case EPERM:
        return readOnly(path, QStringLiteral("accesso negato"));
    case EROFS:
        return readOnly(path, QStringLiteral("il disco è di sola lettura"));
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return make(StoreError::Kind::Full,
                    QStringLiteral("Impossibile scrivere nell'archivio dei controlli \"%1\": il disco è pieno. "
                                   "Quanto era già registrato è intatto.")
                        .arg(path));
    case ENOENT:
    case ENOTDIR:
        return other(path, QStringLiteral("la cartella non esiste"));
    case EISDIR:
        return notAStore(path, QStringLiteral("è una cartella"));
    default:
        return other(path, QString::fromLocal8Bit(std::strerror(errorNumber)));
    }
}

StoreError fromSql(const QString& path, const QSqlError& error)
{
    bool known = false;
    // Extended result codes carry the primary one in their low byte.
    const int code = error.nativeErrorCode().toInt(&known) & 0xff;
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    if (!known)
        return other(path, text);
    switch (code) {
    case Full:
        return fromErrno(path, ENOSPC);
    case ReadOnlyCode:
    case Perm:
        return readOnly(path, QStringLiteral("il file è di sola lettura"));
    case NotADb:
        return notAStore(path);
    case Corrupt:
        return other(path, QStringLiteral("il file è danneggiato"));
    case Busy:
    case Locked:
        return busy(path, 0);
    case CantOpen:
        return other(path, QStringLiteral("impossibile aprire il file o il suo giornale"));
    case IoErr:
        if (const int problem = spaceProblem(path))
            return fromErrno(path, problem);
        return other(path, QStringLiteral("errore del disco (%1)").arg(text));
    default:
        return other(path, text);
    }
}

} // namespace fleet::failure

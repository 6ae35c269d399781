#include "book/AddressBookError.h"

#include <cerrno>
#include <cstring>

AddressBookError::AddressBookError(Step step, const QString& message, const QString& reason)
    : std::runtime_error(message.toStdString())
    , step_(step)
    , message_(message)
    , reason_(reason)
{
}

QString AddressBookError::reasonFor(int errorNumber)
{
    switch (errorNumber) {
    case ENOSPC:
        return QStringLiteral("il disco è pieno");
    case EDQUOT:
        return QStringLiteral("lo spazio concesso sul disco è esaurito");
    case EFBIG:
        return QStringLiteral("il file ha raggiunto la dimensione massima consentita");
    case EACCES:
    case EPERM:
        return QStringLiteral("accesso negato");
    case EROFS:
        return QStringLiteral("il disco è di sola lettura");
    case EISDIR:
        return QStringLiteral("è una cartella");
    case ENOENT:
        return QStringLiteral("la cartella non esiste");
    case ENOTDIR:
    case ELOOP:
        return QStringLiteral("il percorso non è valido");
    case ENAMETOOLONG:
        return QStringLiteral("il nome del file è troppo lungo");
    case EIO:
        return QStringLiteral("errore del disco");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("troppi file aperti");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("il file è in uso");
    case ENOMEM:
        return QStringLiteral("memoria insufficiente");
    default:
        return QStringLiteral("errore del sistema (%1: %2)")
            .arg(errorNumber)
            .arg(QString::fromLocal8Bit(std::strerror(errorNumber)));
    }
}

QString AddressBookError::messageFor(Step step, const QString& path, const QString& reason, int card)
{
    const QString number = QString::number(card + 1);
    switch (step) {
    case Step::Open:
        return QStringLiteral("Impossibile aprire la rubrica \"%1\": %2.").arg(path, reason);
    case Step::Create:
        return QStringLiteral("Impossibile creare la rubrica \"%1\": %2.").arg(path, reason);
    case Step::Position:
        return QStringLiteral("Impossibile raggiungere la scheda %1 della rubrica \"%2\": %3.").arg(number, path, reason);
    case Step::Read:
        return QStringLiteral("Impossibile leggere la scheda %1 della rubrica \"%2\": %3.").arg(number, path, reason);
    case Step::Write:
        return QStringLiteral("Impossibile scrivere la scheda %1 nella rubrica \"%2\": %3.\nLa scheda non è stata salvata.")
            .arg(number, path, reason);
    case Step::Sort:
        return QStringLiteral("Impossibile ordinare la rubrica \"%1\": %2.\nLa rubrica non è stata modificata.")
            .arg(path, reason);
    }
    return reason;
}

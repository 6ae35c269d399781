#pragma once

#include "fleet/FleetStore.h"

#include <QByteArray>
#include <QDateTime>

// Customers, tables and sessions for the fleet store's tests.
namespace storetest {

// A table as a table file holds it: 128 lines of 26 bytes and CR LF, the
// first byte telling tables apart.
inline QByteArray table(char mark)
{
    QByteArray line(26, '-');
    line += "\r\n";
    QByteArray bytes = line.repeated(128);
    bytes[0] = mark;
    return bytes;
}

inline QDateTime night(int day, int minute = 0)
{
    return QDateTime(QDate(2026, 1, 1), QTime(2, 0), Qt::UTC).addDays(day).addSecs(60 * minute);
}

inline fleet::Customer customer(int card, const QString& number)
{
    return { card, QStringLiteral("Rossi%1").arg(card), QStringLiteral("Anna"), number };
}

inline fleet::SessionResult session(const fleet::Customer& who, fleet::Outcome outcome, const QDateTime& at,
                                    char mark = 'A', int round = 0)
{
    fleet::SessionResult result;
    result.customer = who;
    result.port = QStringLiteral("com2");
    result.host = QStringLiteral("officina");
    result.started = at;
    result.ended = at.addSecs(40);
    result.outcome = outcome;
    result.round = round;
    if (fleet::isGoodRead(outcome))
        result.table = table(mark);
    else
        result.detail = QStringLiteral("nessuna risposta");
    if (outcome == fleet::Outcome::Different)
        result.differences = { { 12, QStringLiteral("end"), QStringLiteral("1800"), QStringLiteral("1930") },
                               { 0, QStringLiteral("prefix"), QString(), QStringLiteral("02") } };
    return result;
}

} // namespace storetest

#pragma once

#include "fleet/FleetStore.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <QVariant>

#include <optional>

// How the store's values stand in its columns: dates as milliseconds since
// 1970 in UTC (NULL for none), a run's ports as a JSON array of texts.
namespace fleet::sqlite {

inline QVariant dateValue(const QDateTime& at)
{
    return at.isValid() ? QVariant(at.toMSecsSinceEpoch()) : QVariant();
}

inline QDateTime dateFrom(const QVariant& value)
{
    return value.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

// A text for a NOT NULL column: Qt binds a null QString as NULL.
inline QVariant textValue(const QString& text)
{
    return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
}

inline QString portsText(const QStringList& ports)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(ports)).toJson(QJsonDocument::Compact));
}

inline QStringList portsFrom(const QVariant& value)
{
    QStringList ports;
    for (const QJsonValue& port : QJsonDocument::fromJson(value.toString().toUtf8()).array())
        ports << port.toString();
    return ports;
}

inline std::optional<RunEnd> runEndFromWord(const QString& word)
{
    for (RunEnd end : { RunEnd::Running, RunEnd::Finished, RunEnd::Interrupted, RunEnd::Failed })
        if (runEndWord(end) == word)
            return end;
    return std::nullopt;
}

} // namespace fleet::sqlite

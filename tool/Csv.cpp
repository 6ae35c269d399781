#include "tool/Csv.h"

#include <QStringDecoder>

namespace csv {

namespace {

constexpr int MaxFields = 64;
constexpr int MaxFieldLength = 1000;

} // namespace

QByteArray record(const QStringList& fields)
{
    QString text;
    for (int i = 0; i < fields.size(); ++i) {
        if (i > 0)
            text += QLatin1Char(',');
        QString field = fields.at(i);
        field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        text += QLatin1Char('"') + field + QLatin1Char('"');
    }
    text += QStringLiteral("\r\n");
    return text.toUtf8();
}

std::optional<std::vector<Record>> parse(const QByteArray& bytes, int maxRecords, QString* error)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        *error = QStringLiteral("il file non è in UTF-8");
        return std::nullopt;
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    std::vector<Record> records;
    Record current;
    QString field;
    int line = 1;
    current.line = 1;
    int quoteLine = 0;       // where the open quoted field started
    bool quoted = false;     // inside a quoted field
    bool wasQuoted = false;  // the field so far was a quoted one
    bool fieldStarted = false;
    auto problem = [&](const QString& what) {
        *error = QStringLiteral("riga %1: %2").arg(line).arg(what);
        return std::nullopt;
    };
    auto endField = [&]() -> bool {
        if (current.fields.size() >= MaxFields)
            return false;
        current.fields << field;
        field.clear();
        wasQuoted = false;
        fieldStarted = false;
        return true;
    };

    const int n = int(text.size());
    for (int i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < n && text.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == QLatin1Char('\n'))
                    ++line;
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            if (fieldStarted)
                return problem(QStringLiteral("virgolette dentro un campo senza virgolette"));
            quoted = true;
            quoteLine = line;
            wasQuoted = true;
            fieldStarted = true;
        } else if (c == QLatin1Char(',')) {
            if (!endField())
                return problem(QStringLiteral("più di %1 campi").arg(MaxFields));
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && (i + 1 >= n || text.at(i + 1) != QLatin1Char('\n')))
                return problem(QStringLiteral("carattere CR fuori da un campo"));
            if (c == QLatin1Char('\r'))
                ++i;
            if (!endField())
                return problem(QStringLiteral("più di %1 campi").arg(MaxFields));
            records.push_back(std::move(current));
            if (int(records.size()) > maxRecords)
                return problem(QStringLiteral("più di %1 righe").arg(maxRecords));
            current = Record();
            ++line;
            current.line = line;
        } else {
            if (wasQuoted && c == QLatin1Char(';'))
                return problem(QStringLiteral("i campi sono separati da \";\": il separatore dev'essere la virgola "
                                              "(nel foglio di calcolo, salvare come CSV con separatore \",\")"));
            if (wasQuoted)
                return problem(QStringLiteral("testo dopo le virgolette di chiusura"));
            field += c;
            fieldStarted = true;
        }
        if (field.size() > MaxFieldLength)
            return problem(QStringLiteral("un campo supera %1 caratteri").arg(MaxFieldLength));
    }
    if (quoted) {
        line = quoteLine;
        return problem(QStringLiteral("virgolette aperte e mai chiuse"));
    }
    // A last record without its line end.
    if (fieldStarted || !current.fields.isEmpty()) {
        if (!endField())
            return problem(QStringLiteral("più di %1 campi").arg(MaxFields));
        records.push_back(std::move(current));
        if (int(records.size()) > maxRecords)
            return problem(QStringLiteral("più di %1 righe").arg(maxRecords));
    }
    return records;
}

} // namespace csv

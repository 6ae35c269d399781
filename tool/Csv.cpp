#include "tool/Csv.h"

#include <QStringDecoder>

namespace csv {

namespace {

constexpr int MaxFields = 64;
constexpr int MaxFieldLength = 1000;

// Reads the records of a decoded text one character at a time. Each step
// returns false at the first thing that is not CSV, with the error told as
// "riga N: ..." for the line the reader is on.
class Reader
{
public:
    Reader(const QString& text, int maxRecords, QString* error)
        : text_(text), maxRecords_(maxRecords), error_(error)
    {
        current_.line = 1;
    }

    std::optional<std::vector<Record>> read()
    {
        const int n = int(text_.size());
        for (int i = 0; i < n; ++i) {
            if (quoted_)
                takeQuoted(i);
            else if (!takeBare(i))
                return std::nullopt;
            if (field_.size() > MaxFieldLength)
                return problem(QStringLiteral("un campo supera %1 caratteri").arg(MaxFieldLength));
        }
        if (quoted_) {
            line_ = quoteLine_;
            return problem(QStringLiteral("virgolette aperte e mai chiuse"));
        }
        // A last record without its line end.
        if ((fieldStarted_ || !current_.fields.isEmpty()) && !endRecord())
            return std::nullopt;
        return std::move(records_);
    }

private:
    std::nullopt_t problem(const QString& what)
    {
        *error_ = QStringLiteral("riga %1: %2").arg(line_).arg(what);
        return std::nullopt;
    }

    bool endField()
    {
        if (current_.fields.size() >= MaxFields) {
            problem(QStringLiteral("più di %1 campi").arg(MaxFields));
            return false;
        }
        current_.fields << field_;
        field_.clear();
        wasQuoted_ = false;
        fieldStarted_ = false;
        return true;
    }

    bool endRecord()
    {
        if (!endField())
            return false;
        records_.push_back(std::move(current_));
        if (int(records_.size()) > maxRecords_) {
            problem(QStringLiteral("più di %1 righe").arg(maxRecords_));
            return false;
        }
        return true;
    }

    // Inside a quoted field, where only a quote not doubled ends it.
    void takeQuoted(int& i)
    {
        const QChar c = text_.at(i);
        if (c == QLatin1Char('"')) {
            if (i + 1 < text_.size() && text_.at(i + 1) == QLatin1Char('"')) {
                field_ += c;
                ++i;
            } else {
                quoted_ = false;
            }
        } else {
            if (c == QLatin1Char('\n'))
                ++line_;
            field_ += c;
        }
    }

    // Outside quotes: a quote opening a field, a separator, a line end or text.
    bool takeBare(int& i)
    {
        const QChar c = text_.at(i);
        if (c == QLatin1Char('"')) {
            if (fieldStarted_) {
                problem(QStringLiteral("virgolette dentro un campo senza virgolette"));
                return false;
            }
            quoted_ = true;
            quoteLine_ = line_;
            wasQuoted_ = true;
            fieldStarted_ = true;
        } else if (c == QLatin1Char(',')) {
            return endField();
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            return takeLineEnd(i);
        } else {
            if (wasQuoted_ && c == QLatin1Char(';')) {
                problem(QStringLiteral("i campi sono separati da \";\": il separatore dev'essere la virgola "
                                       "(nel foglio di calcolo, salvare come CSV con separatore \",\")"));
                return false;
            }
            if (wasQuoted_) {
                problem(QStringLiteral("testo dopo le virgolette di chiusura"));
                return false;
            }
            field_ += c;
            fieldStarted_ = true;
        }
        return true;
    }

    bool takeLineEnd(int& i)
    {
        const bool cr = text_.at(i) == QLatin1Char('\r');
        if (cr && (i + 1 >= text_.size() || text_.at(i + 1) != QLatin1Char('\n'))) {
            problem(QStringLiteral("carattere CR fuori da un campo"));
            return false;
        }
        if (cr)
            ++i;
        if (!endRecord())
            return false;
        current_ = Record();
        ++line_;
        current_.line = line_;
        return true;
    }

    const QString& text_;
    const int maxRecords_;
    QString* error_;
    std::vector<Record> records_;
    Record current_;
    QString field_;
    int line_ = 1;
    int quoteLine_ = 0;        // where the open quoted field started
    bool quoted_ = false;      // inside a quoted field
    bool wasQuoted_ = false;   // the field so far was a quoted one
    bool fieldStarted_ = false;
};

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
    return Reader(text, maxRecords, error).read();
}

} // namespace csv

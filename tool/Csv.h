#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// RFC 4180 files as pradix-tool writes and reads them: UTF-8, CR LF, every
// field quoted, so a spreadsheet keeps codes such as "0461" as text.
namespace csv {

// One record: every field in double quotes (quotes inside doubled), CR LF.
QByteArray record(const QStringList& fields);

struct Record
{
    int line = 0; // where the record starts in the file, from 1
    QStringList fields;
};

// Reads a whole file: quoted or bare fields, CR LF or LF line ends, a
// leading byte-order mark ignored. Bounded: at most `maxRecords` records of
// at most 64 fields of at most 1000 characters. On malformed input (not
// UTF-8, a quote in a bare field, a quoted field never closed, too much)
// the result is empty and `error` says where ("riga 7: ...").
std::optional<std::vector<Record>> parse(const QByteArray& bytes, int maxRecords, QString* error);

} // namespace csv

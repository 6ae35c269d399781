#pragma once

#include "device/TableGrid.h"
#include "tool/TableText.h"

#include <QByteArray>
#include <QString>

#include <vector>

// What differs between two tables, field by field as a person reads them,
// and between the table a write sends and what a box then holds.
namespace tool {

struct Difference
{
    int association = 0; // 0 for the header
    fields::Field field = fields::Field::Model;
    QString from;
    QString to;
};

// Fields that read differently, then fields whose cells differ where both
// tables read alike; each field once, header first, then associations in order.
std::vector<Difference> differences(const TableGrid& a, const TableGrid& b);

// "Associazione 12, Alle: 1800 -> 1930", "(vuoto)" for an empty field.
QString differenceLine(const Difference& d);
// A JSON list of "association" (null for the header), "field", "from", "to".
QByteArray differencesJson(const std::vector<Difference>& found);

// The cells of the field at `at` in `row`, as they stand (the code 0 shown as
// \0), each table's cells read by its own model. A Kolvar1 key string ends
// where its "#" is: the "-" after it are left out, so a code that only moved
// with a longer or shorter prefix reads the same.
QString rawCells(const TableGrid& grid, const FieldAt& at, int row);

// The header and the 127 records (image bytes 0..2047) a box holds against
// those a write sent: every field that reads differently, and for a byte
// that differs where both read alike, a line naming the byte. Empty when the
// box holds every byte that was sent.
QStringList storedDifferences(const QByteArray& sent, const QByteArray& stored);

} // namespace tool

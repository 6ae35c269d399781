#pragma once

#include "device/Codec.h"
#include "device/TableFields.h"
#include "device/TableGrid.h"

#include <QLatin1String>

#include <QString>

#include <array>
#include <optional>
#include <vector>

// A table as a person reads it: the header's fields in words and each
// association's fields as the editor boxes show them. show, diff, the CSV
// files and the printed table all read a table through this one view, and a
// CSV file is put back into cells through fieldsToGrid, so what is printed,
// compared and exported is the same text everywhere.
namespace tool {

// The Italian name of a field, as the window labels it ("Prefisso Locale",
// "Alle"), and its name in machine output ("local_prefix", "end").
QString fieldName(fields::Field field);
QLatin1String fieldKey(fields::Field field);

QString modelName(codec::Model model); // "Kolvar22", "Kolvar1", "" for none

struct AssociationText
{
    int number = 0;    // 1..127
    bool used = false; // cell 1 of its row is not "-"
    fields::PerField<QString> values;

    const QString& operator[](fields::Field f) const { return values[f]; }
    QString& operator[](fields::Field f) { return values[f]; }
};

struct TableText
{
    codec::Model model = codec::Model::None;
    // Model name, "Automatica"/"Manuale", local prefix digits, "Si"/"No"
    // (empty for a Kolvar1): a cell no word fits is given as it stands.
    // Fields never set (their cells "-") are empty, except the local
    // prefix: there "-" tells a prefix never set from an empty one (a lone
    // "#"), which a box without local prefix holds.
    fields::PerField<QString> header;
    std::vector<AssociationText> associations; // all 127, in order

    const QString& operator[](fields::Field f) const { return header[f]; }
    QString& operator[](fields::Field f) { return header[f]; }
    int usedCount() const;
};

// Always succeeds: a cell without a reading is shown as it stands, and a
// field whose cells are all "-" is empty.
TableText tableText(const TableGrid& grid);

// The first field text that breaks an entry rule, or the first used field a
// model does not have.
struct FieldProblem
{
    int association = 0; // 0 for the header
    std::optional<fields::Field> field; // none for an association number out of range
    QString reason; // Italian, e.g. "ha più di quattro cifre"
};

// Fills `grid` (every data cell first "-", as in a window just started) from
// field texts, by the entry rules of the boxes. The texts are checked first:
// on a problem the grid is left as it was and the problem is returned.
std::optional<FieldProblem> fieldsToGrid(const TableText& text, TableGrid& grid);

// The association (0 for the header) and the shown field that holds grid
// cell (column, row) of `grid`, read by the grid's own model: a separator
// or terminator belongs to the field whose box writes it.
struct FieldAt
{
    int association = 0;
    fields::Field field = fields::Field::Model;
};
FieldAt fieldAt(const TableGrid& grid, int column, int row);

// "Associazione 12, Alle" or "Gestione": where a field is, for messages.
QString fieldPlace(int association, std::optional<fields::Field> field);

// A text as a terminal may show it: control characters (an escape sequence
// typed into a card or a table) written as \u001b, as JSON writes them.
QString terminalText(const QString& text);

} // namespace tool

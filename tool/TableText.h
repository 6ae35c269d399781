#pragma once

#include "device/Codec.h"
#include "device/TableGrid.h"

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

enum class HeaderField { Model, Management, LocalPrefix, Beep, Flash };
constexpr int HeaderFieldCount = 5;

enum class AssociationField { Prefix, Carrier, Start, End, Day, Line };
constexpr int AssociationFieldCount = 6;

// Italian names, as the window labels them ("Prefisso Locale", "Alle").
QString fieldName(HeaderField field);
QString fieldName(AssociationField field);
// Names for machine output ("local_prefix", "end").
const char* fieldKey(HeaderField field);
const char* fieldKey(AssociationField field);

QString modelName(codec::Model model); // "Kolvar22", "Kolvar1", "" for none

struct AssociationText
{
    int number = 0;    // 1..127
    bool used = false; // cell 1 of its row is not "-"
    std::array<QString, AssociationFieldCount> fields;

    const QString& operator[](AssociationField f) const { return fields[size_t(f)]; }
    QString& operator[](AssociationField f) { return fields[size_t(f)]; }
};

struct TableText
{
    codec::Model model = codec::Model::None;
    // Model name, "Automatica"/"Manuale", local prefix digits, "Si"/"No"
    // (empty for a Kolvar1): a cell no word fits is given as it stands.
    // Fields never set (their cells "-") are empty, except the local
    // prefix: there "-" tells a prefix never set from an empty one (a lone
    // "#"), which a box without local prefix holds.
    std::array<QString, HeaderFieldCount> header;
    std::vector<AssociationText> associations; // all 127, in order

    const QString& operator[](HeaderField f) const { return header[size_t(f)]; }
    QString& operator[](HeaderField f) { return header[size_t(f)]; }
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
    std::optional<HeaderField> header;
    std::optional<AssociationField> field;
    QString reason; // Italian, e.g. "ha più di quattro cifre"
};

// Fills `grid` (every data cell first "-", as in a window just started) from
// field texts, by the entry rules of the boxes. The texts are checked first:
// on a problem the grid is left as it was and the problem is returned.
std::optional<FieldProblem> fieldsToGrid(const TableText& text, TableGrid& grid);

// The association (0 for the header) and field that holds grid cell
// (column, row) of `grid`, read by the grid's own model.
struct FieldAt
{
    int association = 0;
    std::optional<HeaderField> header;
    std::optional<AssociationField> field;
};
FieldAt fieldAt(const TableGrid& grid, int column, int row);

// "Associazione 12, Alle" or "Gestione": where a field is, for messages.
QString fieldPlace(int association, std::optional<HeaderField> header, std::optional<AssociationField> field);

} // namespace tool

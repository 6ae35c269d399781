#pragma once

#include "device/GridLayout.h"
#include "device/TableGrid.h"

#include <QChar>
#include <QString>

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

namespace codec {
enum class Model : int;
}

// The fields of a box's table, named once: what the operator calls each of
// them, where its cells are in the grid, which box of the editor shows it and
// how that box takes typed keys. The write's refusals, the editor's boxes and
// every view of the tool (show, diff, CSV, the printed table) speak of a field
// through this one list.
namespace fields {

enum class Field {
    // the header (row 1)
    Model,
    HeaderSeparator, // the "#" on either side of the management cell
    Management,
    LocalPrefix,
    Reserved, // a header cell the box does not use
    Beep,
    Flash,
    // an association row
    Prefix,
    Carrier,
    StartTime,
    EndTime,
    DayType,
    Separator, // the "*" the day-type box writes
    Line,
    Terminator, // the "#" the line box writes
};
constexpr std::size_t FieldCount = std::size_t(Field::Terminator) + 1;

// How a box takes a typed character.
enum class KeyFilter {
    Digits,      // prefix, carrier code, start and end time: Backspace and 0..9
    LocalPrefix, // Backspace, Enter and 0..9
    Refuse,      // nothing may be typed
    Line,        // 0, 1, 2; anything else is typed as "0"
    Any,         // management, day type
};

enum class KeyVerdict {
    Accept,
    Drop,     // the key is lost and the operator hears a beep
    TypeZero, // a "0" is typed in its place, with a beep
};

// The verdict for one typed character (control characters included:
// Backspace is 8, Enter 13).
KeyVerdict filterKey(KeyFilter filter, QChar typed);

struct Description
{
    const char* key;   // for machine output: "local_prefix", "end"
    const char* label; // as the window labels it and the tool shows it: "Prefisso Locale", "Alle"
    const char* name;  // inside a sentence: "prefisso locale", "ora di fine"
    bool feminine;     // "non valida" rather than "non valido"
    bool mark;         // a fixed "*" or "#" that another field's box writes
    // The field whose reading shows this one's cells (a mark shows as the
    // field whose box writes it; every other field as itself).
    Field shownAs;
    // Its cells: in row 1 for a header field, in a Kolvar22 row for an
    // association field (a Kolvar1 row is one run of keys; see fieldAt).
    layout::Columns cells;
    const char* box;   // object name of the editor's box, "" for none
    KeyFilter filter;  // how that box takes typed keys
    int typedLimit;    // the longest text the operator can type there; 0 no limit
};

const Description& describe(Field field);

inline bool isHeaderField(Field field)
{
    return field <= Field::Flash;
}

// The fields an operator reads and types, in the order the tool lists them.
constexpr std::array<Field, 5> HeaderFields{ Field::Model, Field::Management, Field::LocalPrefix, Field::Beep,
                                             Field::Flash };
constexpr std::array<Field, 6> AssociationFields{ Field::Prefix,  Field::Carrier, Field::StartTime,
                                                  Field::EndTime, Field::DayType, Field::Line };

// The header fields after the model, and the association fields, that a
// model's box has (a Kolvar1 has neither beep and flash nor times, day and
// line); a table without a model reads as a Kolvar22 one.
std::vector<Field> headerFieldsOf(codec::Model model);
std::vector<Field> associationFieldsOf(codec::Model model);

// The field that grid cell (column, row) belongs to, read by the grid's own
// model: on a Kolvar1 row the prefix runs up to the first "*" and the
// carrier code from it.
Field fieldAt(const TableGrid& grid, int column, int row);

// One value per field: what a box shows, a text the tool prints.
template <typename T>
class PerField
{
public:
    const T& operator[](Field f) const { return values_[std::size_t(f)]; }
    T& operator[](Field f) { return values_[std::size_t(f)]; }

private:
    std::array<T, FieldCount> values_{};
};

} // namespace fields

#include "device/TableFields.h"

#include "device/Codec.h"

namespace fields {

namespace {

namespace header = layout::header;
namespace kolvar22 = layout::kolvar22;
using layout::Columns;

constexpr Columns one(int column)
{
    return { column, column };
}

// Typed-text limits of the boxes.
constexpr int PrefixLimit = 5;
constexpr int CodeLimit = 6;
constexpr int TimeLimit = 4;
constexpr int LocalPrefixLimit = 7;

const std::array<Description, FieldCount> Descriptions{ {
    // clang-format off
    { "model", "Modello", "modello", false, false, Field::Model,
      one(header::ModelColumn), "", KeyFilter::Any, 0 },
    { "header_separator", "Separatore", "separatore", false, true, Field::Management,
      { header::FirstSeparatorColumn, header::SecondSeparatorColumn }, "", KeyFilter::Any, 0 },
    { "management", "Gestione", "gestione", true, false, Field::Management,
      one(header::ManagementColumn), "Edit1", KeyFilter::Any, 0 },
    { "local_prefix", "Prefisso Locale", "prefisso locale", false, false, Field::LocalPrefix,
      { header::LocalPrefixCodes.first, header::LocalPrefixNinthColumn }, "Edit4", KeyFilter::LocalPrefix,
      LocalPrefixLimit },
    { "reserved", "Riservato", "campo riservato", false, false, Field::LocalPrefix,
      one(header::UnusedColumn), "", KeyFilter::Any, 0 },
    { "beep", "Beep", "beep", false, false, Field::Beep,
      one(header::BeepColumn), "CheckListBox1", KeyFilter::Any, 0 },
    { "flash", "Flash", "flash", false, false, Field::Flash,
      one(header::FlashColumn), "CheckListBox1", KeyFilter::Any, 0 },
    { "prefix", "Prefisso", "prefisso", false, false, Field::Prefix,
      kolvar22::Prefix, "Edit2", KeyFilter::Digits, PrefixLimit },
    { "carrier", "Gestore", "gestore", false, false, Field::Carrier,
      kolvar22::Carrier, "Edit3", KeyFilter::Digits, CodeLimit },
    { "start", "Dalle", "ora di inizio", true, false, Field::StartTime,
      kolvar22::StartTime, "Edit5", KeyFilter::Digits, TimeLimit },
    { "end", "Alle", "ora di fine", true, false, Field::EndTime,
      kolvar22::EndTime, "Edit6", KeyFilter::Digits, TimeLimit },
    { "day", "Giorno", "giorno", false, false, Field::DayType,
      one(kolvar22::DayTypeColumn), "Edit8", KeyFilter::Any, 0 },
    { "separator", "Separatore", "separatore", false, true, Field::DayType,
      one(kolvar22::SeparatorColumn), "", KeyFilter::Any, 0 },
    { "line", "Linea", "linea", true, false, Field::Line,
      one(kolvar22::LineColumn), "Edit9", KeyFilter::Line, 0 },
    { "terminator", "Terminatore", "terminatore", false, true, Field::Line,
      one(kolvar22::TerminatorColumn), "", KeyFilter::Any, 0 },
    // clang-format on
} };

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

KeyVerdict filterKey(KeyFilter filter, QChar typed)
{
    constexpr QChar Backspace(8);
    constexpr QChar Enter(13);
    switch (filter) {
    case KeyFilter::Digits:
        return typed == Backspace || isDigit(typed) ? KeyVerdict::Accept : KeyVerdict::Drop;
    case KeyFilter::LocalPrefix:
        return typed == Backspace || typed == Enter || isDigit(typed) ? KeyVerdict::Accept : KeyVerdict::Drop;
    case KeyFilter::Refuse:
        return KeyVerdict::Drop;
    case KeyFilter::Line:
        return typed == QLatin1Char('0') || typed == QLatin1Char('1') || typed == QLatin1Char('2')
            ? KeyVerdict::Accept
            : KeyVerdict::TypeZero;
    case KeyFilter::Any:
        break;
    }
    return KeyVerdict::Accept;
}

const Description& describe(Field field)
{
    return Descriptions[std::size_t(field)];
}

std::vector<Field> headerFieldsOf(codec::Model model)
{
    if (model == codec::Model::Kolvar1)
        return { Field::Management, Field::LocalPrefix };
    return { Field::Management, Field::LocalPrefix, Field::Beep, Field::Flash };
}

std::vector<Field> associationFieldsOf(codec::Model model)
{
    if (model == codec::Model::Kolvar1)
        return { Field::Prefix, Field::Carrier };
    return { AssociationFields.begin(), AssociationFields.end() };
}

Field fieldAt(const TableGrid& grid, int column, int row)
{
    if (row == layout::HeaderRow) {
        // The management cell sits between its two separators.
        for (Field f : { Field::Model, Field::Management, Field::HeaderSeparator, Field::LocalPrefix, Field::Beep,
                         Field::Flash })
            if (describe(f).cells.contains(column))
                return f;
        return Field::Reserved; // cell 14 and the trailer after beep and flash
    }
    if (codec::modelOf(grid) == codec::Model::Kolvar1) {
        for (int c = layout::kolvar1::Keys.first; c < column && c <= layout::kolvar1::Keys.last; ++c)
            if (layout::cell::holds(grid.cell(c, row), layout::cell::Star))
                return Field::Carrier;
        return layout::cell::holds(grid.cell(column, row), layout::cell::Star) ? Field::Carrier : Field::Prefix;
    }
    for (std::size_t i = std::size_t(Field::Prefix); i < FieldCount; ++i)
        if (describe(Field(i)).cells.contains(column))
            return Field(i);
    return Field::Terminator;
}

} // namespace fields

#pragma once

#include <QLatin1String>
#include <QString>

#include <optional>

// Where each field of the box's table sits in the grid, the key codes it is
// stored with and the words the boxes show for it. The codec, the editor
// rules, the boxes and the read all take their columns and codes from here.
// Columns are grid columns (1..26); row 1 is the header record, row n + 1
// association n.
namespace layout {

// Columns first..last, both included.
struct Columns
{
    int first;
    int last;
    constexpr int width() const { return last - first + 1; }
    constexpr bool contains(int column) const { return column >= first && column <= last; }
};

constexpr int HeaderRow = 1;
constexpr int FirstAssociationRow = 2;
constexpr int LastAssociationRow = 128;
constexpr Columns RowCells{ 1, 26 };

// ---- key codes: one per byte, or one per nibble in the Kolvar22 carrier code

namespace key {
constexpr int Nothing = 0;  // no key stored: an empty position or record
constexpr int FirstDigit = 1;
constexpr int Zero = 10;    // the digit 0 ("0" in a cell; never the byte 0)
constexpr int Star = 11;    // filler after the prefix and carrier digits, the separator
constexpr int Hash = 12;    // terminator, end of the local prefix, carrier end mark
constexpr int CarrierEnd = Hash;
} // namespace key

// The cell texts of the key codes. A cell holds one of these, a digit, or
// a decimal the box sent that no rule names.
namespace cell {
constexpr char Nothing = '-';
constexpr char Zero = '0';
constexpr char Star = '*';
constexpr char Hash = '#';

// Whether a cell holds exactly the one character `text`.
inline bool holds(const QString& cell, char text)
{
    return cell.size() == 1 && cell.at(0) == QLatin1Char(text);
}
} // namespace cell

// ---- header row (row 1); cell c holds header byte c - 1

namespace header {
constexpr int ModelColumn = 1;           // "U" or "Y"
constexpr int FirstSeparatorColumn = 2;  // "#"
constexpr int ManagementColumn = 3;      // "M" or "A"
constexpr int SecondSeparatorColumn = 4; // "#"
// The box's local prefix: eight key codes ended by a hash, then a ninth
// position and one cell the box does not use.
constexpr Columns LocalPrefixCodes{ 5, 12 };
constexpr int LocalPrefixNinthColumn = 13;
constexpr int UnusedColumn = 14;
// Kolvar22 only.
constexpr int BeepColumn = 15;  // "B" on, "0" off
constexpr int FlashColumn = 16; // "F" on, "0" off
constexpr Columns Record{ 1, 16 };
constexpr Columns Trailer{ 17, 26 }; // always "-"

// The local prefix has two extents, and they differ on purpose. The read
// shows cells 5..15 joined up to the first "#" (a prefix without its hash
// runs into the beep cell). The local-prefix box writes from cell 5 up to
// the cell before beep and flash, and "-" from 17 to 26: beep and flash keep
// what the check list set.
constexpr Columns LocalPrefixShown{ 5, 15 };
constexpr Columns LocalPrefixWritten{ 5, 14 };

constexpr char Kolvar22Marker = 'U';
constexpr char Kolvar1Marker = 'Y';
constexpr char Manual = 'M';
constexpr char Automatic = 'A';
constexpr char BeepOn = 'B';
constexpr char FlashOn = 'F';
constexpr char Off = '0';
} // namespace header

// ---- Kolvar22 association row

namespace kolvar22 {
constexpr Columns Prefix{ 1, 6 };    // one key per cell, "*" after the last digit
constexpr Columns Carrier{ 7, 14 };  // two keys per byte, high nibble first
constexpr Columns StartTime{ 15, 18 }; // HHMM
constexpr Columns EndTime{ 19, 22 };
constexpr int DayTypeColumn = 23;
constexpr int SeparatorColumn = 24;  // "*"
constexpr int LineColumn = 25;
constexpr int TerminatorColumn = 26; // "#"
// What a carrier code ended by its mark leaves out: times, day, line.
constexpr Columns AfterCarrierEnd{ 15, 26 };
} // namespace kolvar22

// ---- Kolvar1 association row: prefix, "*", carrier digits, "#" in one
// string of up to sixteen keys, "-" after it

namespace kolvar1 {
constexpr Columns Keys{ 1, 16 };
constexpr Columns Rest{ 17, 26 };
// What the editor boxes show of a row: the prefix from cells 1..7 up to its
// "*", the code after it up to the "#" or cell 15.
constexpr Columns PrefixShown{ 1, 7 };
constexpr int CodeShownLast = 15;
} // namespace kolvar1

// ---- the words of the boxes

// Management box <-> cell (3, 1): exactly "Automatica" is automatic, any
// other text manual.
inline const QLatin1String Automatic("Automatica");
inline const QLatin1String Manual("Manuale");

// Day-type box <-> cell 23.
inline const QLatin1String Always("Sempre");     // "0"
inline const QLatin1String WorkingDay("Feriale"); // "1"
inline const QLatin1String Holiday("Festivo");   // "2"

// The cell text of a day-type word, or nothing for any other text.
inline std::optional<char> dayTypeCell(const QString& word)
{
    if (word == Always)
        return '0';
    if (word == WorkingDay)
        return '1';
    if (word == Holiday)
        return '2';
    return std::nullopt;
}

// The word of a day-type cell, or nothing for any other cell.
inline std::optional<QString> dayTypeWord(const QString& cellText)
{
    if (cell::holds(cellText, '0'))
        return QString(Always);
    if (cell::holds(cellText, '1'))
        return QString(WorkingDay);
    if (cell::holds(cellText, '2'))
        return QString(Holiday);
    return std::nullopt;
}

// The three lines of a box, as cell texts and box texts alike.
inline bool isLine(const QString& text)
{
    return cell::holds(text, '0') || cell::holds(text, '1') || cell::holds(text, '2');
}

} // namespace layout

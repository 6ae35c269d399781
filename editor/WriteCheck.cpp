#include "editor/WriteCheck.h"

#include "device/GridLayout.h"
#include "device/TableWrite.h"
#include "editor/AssociationEditor.h"
#include "editor/FieldRules.h"

namespace editor {
namespace {

QByteArray bytesOf(const std::uint8_t* bytes, int count)
{
    return QByteArray(reinterpret_cast<const char*>(bytes), count);
}

// The header field a refused cell of row 1 belongs to.
WriteField headerField(int column)
{
    namespace h = layout::header;
    if (column == h::ModelColumn)
        return WriteField::Model;
    if (column == h::FirstSeparatorColumn || column == h::SecondSeparatorColumn)
        return WriteField::HeaderSeparator;
    if (column == h::ManagementColumn)
        return WriteField::Management;
    if (h::LocalPrefixCodes.contains(column) || column == h::LocalPrefixNinthColumn)
        return WriteField::LocalPrefix;
    if (column == h::BeepColumn)
        return WriteField::Beep;
    if (column == h::FlashColumn)
        return WriteField::Flash;
    return WriteField::Reserved;
}

WriteField kolvar22Field(int column)
{
    namespace k = layout::kolvar22;
    if (k::Prefix.contains(column))
        return WriteField::Prefix;
    if (k::Carrier.contains(column))
        return WriteField::Carrier;
    if (k::StartTime.contains(column))
        return WriteField::StartTime;
    if (k::EndTime.contains(column))
        return WriteField::EndTime;
    if (column == k::DayTypeColumn)
        return WriteField::DayType;
    if (column == k::SeparatorColumn)
        return WriteField::Separator;
    if (column == k::LineColumn)
        return WriteField::Line;
    return WriteField::Terminator;
}

// A Kolvar1 record is one run of keys: the prefix up to its "*", then the code.
WriteField kolvar1Field(const TableGrid& grid, int row, int column)
{
    for (int c = layout::kolvar1::Keys.first; c < column; ++c)
        if (layout::cell::holds(grid.cell(c, row), layout::cell::Star))
            return WriteField::Carrier;
    return WriteField::Prefix;
}

bool feminine(WriteField field)
{
    switch (field) {
    case WriteField::Management:
    case WriteField::StartTime:
    case WriteField::EndTime:
    case WriteField::Line:
        return true;
    default:
        return false;
    }
}

bool isMark(WriteField field)
{
    return field == WriteField::HeaderSeparator || field == WriteField::Separator || field == WriteField::Terminator;
}

void refuse(WriteCheck& check, int association, WriteField field, const QString& cellText)
{
    check.association = association;
    check.field = field;
    if (field == WriteField::Model) {
        check.message = tablewrite::noModelMessage();
        return;
    }
    const bool missing = isMark(field) && (cellText.isEmpty() || layout::cell::holds(cellText, layout::cell::Nothing));
    const QString verdict = missing ? QStringLiteral("mancante")
        : feminine(field)           ? QStringLiteral("non valida")
                                    : QStringLiteral("non valido");
    const QString where
        = association > 0 ? QStringLiteral("Associazione %1").arg(association) : QStringLiteral("Intestazione");
    check.message = QStringLiteral("%1: %2 %3").arg(where, writeFieldName(field), verdict);
}

// The selector set to `selector`: when that changes it, the editor is filled
// from the association's row, and the day-type and line boxes write their
// rules back into the row when their text changes.
void select(TableGrid& grid, WriteEditorState& boxes, int selector, codec::Model model)
{
    if (boxes.selector == selector)
        return;
    boxes.selector = selector;
    const BoxFill fill = boxesForAssociation(grid, selector, model);
    const int row = associationRow(selector);
    if (fill.dayType && *fill.dayType != boxes.dayType) {
        boxes.dayType = *fill.dayType;
        dayTypeChanged(grid, row, boxes.dayType);
    }
    if (fill.line && *fill.line != boxes.line) {
        boxes.line = *fill.line;
        lineChanged(grid, row, boxes.line);
    }
}

} // namespace

QString writeFieldName(WriteField field)
{
    switch (field) {
    case WriteField::None: return QString();
    case WriteField::Model: return QStringLiteral("modello");
    case WriteField::HeaderSeparator: return QStringLiteral("separatore");
    case WriteField::Management: return QStringLiteral("gestione");
    case WriteField::LocalPrefix: return QStringLiteral("prefisso locale");
    case WriteField::Reserved: return QStringLiteral("campo riservato");
    case WriteField::Beep: return QStringLiteral("beep");
    case WriteField::Flash: return QStringLiteral("flash");
    case WriteField::Prefix: return QStringLiteral("prefisso");
    case WriteField::Carrier: return QStringLiteral("gestore");
    case WriteField::StartTime: return QStringLiteral("ora di inizio");
    case WriteField::EndTime: return QStringLiteral("ora di fine");
    case WriteField::DayType: return QStringLiteral("giorno");
    case WriteField::Separator: return QStringLiteral("separatore");
    case WriteField::Line: return QStringLiteral("linea");
    case WriteField::Terminator: return QStringLiteral("terminatore");
    }
    return QString();
}

WriteCheck checkWrite(const TableGrid& grid, const WriteEditorState& editor)
{
    WriteCheck check;
    // A copy takes the cells only: nothing that shows the original hears of the steps.
    check.grid = grid;
    check.editor = editor;
    TableGrid& table = check.grid;

    const codec::Model model = codec::modelOf(table);
    if (model == codec::Model::None) {
        refuse(check, 0, WriteField::Model, table.cell(1, 1));
        return check;
    }

    try {
        const codec::Record header = codec::encodeHeader(table);
        check.pieces.push_back(bytesOf(header.data(), codec::RecordSize));
    } catch (const codec::ConversionError& e) {
        refuse(check, 0, headerField(e.column()), table.cell(e.column(), 1));
        return check;
    }

    const codec::PieceSink keep = [&check](const std::uint8_t* bytes, int count) {
        check.pieces.push_back(bytesOf(bytes, count));
        return true;
    };
    for (int n = FirstAssociation; n <= LastAssociation; ++n) {
        const int row = associationRow(n);
        select(table, check.editor, n, model);
        try {
            if (model == codec::Model::Kolvar22) {
                tablewrite::fillMissingCarrier(table, row);
                codec::encodeKolvar22Pieces(table, row, keep);
            } else {
                const codec::Record record = codec::encodeRecord(table, row, model);
                check.pieces.push_back(bytesOf(record.data(), codec::RecordSize));
            }
        } catch (const codec::ConversionError& e) {
            const WriteField field
                = model == codec::Model::Kolvar22 ? kolvar22Field(e.column()) : kolvar1Field(table, row, e.column());
            refuse(check, n, field, table.cell(e.column(), row));
            return check;
        }
    }
    select(table, check.editor, FirstAssociation, model);
    return check;
}

} // namespace editor

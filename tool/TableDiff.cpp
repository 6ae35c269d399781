#include "tool/TableDiff.h"

#include "device/Codec.h"
#include "device/GridLayout.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <set>

namespace tool {

using fields::Field;

QString rawCells(const TableGrid& grid, const FieldAt& at, int row)
{
    QString text;
    for (int c = layout::RowCells.first; c <= layout::RowCells.last; ++c) {
        const FieldAt here = fieldAt(grid, c, row);
        if (here.field == at.field) {
            QString cell = grid.cell(c, row);
            text += cell.replace(QChar(0), QStringLiteral("\\0"));
        }
    }
    if (row != layout::HeaderRow && codec::modelOf(grid) == codec::Model::Kolvar1)
        while (text.endsWith(QLatin1Char(layout::cell::Nothing)))
            text.chop(1);
    return text;
}

std::vector<Difference> differences(const TableGrid& a, const TableGrid& b)
{
    const TableText ta = tableText(a);
    const TableText tb = tableText(b);
    std::vector<Difference> found;
    auto seen = [&](int association, Field f) {
        for (const Difference& d : found)
            if (d.association == association && d.field == f)
                return true;
        return false;
    };
    // Fields that read differently, then cells that differ where both read alike.
    auto cellsOf = [&](int row) {
        if (ta.model != tb.model)
            return;
        for (int c = layout::RowCells.first; c <= layout::RowCells.last; ++c) {
            if (a.cell(c, row) == b.cell(c, row))
                continue;
            const FieldAt at = fieldAt(a, c, row);
            if (seen(at.association, at.field))
                continue;
            QString from = rawCells(a, at, row);
            QString to = rawCells(b, at, row);
            if (from != to)
                found.push_back({ at.association, at.field, std::move(from), std::move(to) });
        }
    };
    for (const Field f : fields::HeaderFields)
        if (ta[f] != tb[f])
            found.push_back({ 0, f, ta[f], tb[f] });
    cellsOf(layout::HeaderRow);
    for (int n = 1; n <= codec::RecordCount; ++n) {
        const AssociationText& x = ta.associations[size_t(n - 1)];
        const AssociationText& y = tb.associations[size_t(n - 1)];
        for (const Field f : fields::AssociationFields)
            if (x[f] != y[f])
                found.push_back({ n, f, x[f], y[f] });
        cellsOf(n + 1);
    }
    return found;
}

namespace {

QString shownValue(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("(vuoto)") : text;
}

// The grid a box's header and records make, decoded as a read decodes them.
// Bytes of no model leave the rows as they are ("-").
TableGrid decodedTable(const QByteArray& bytes)
{
    TableGrid grid;
    grid.fillData(QStringLiteral("-"));
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const codec::Model model = codec::modelOfByte(data[0]);
    if (model == codec::Model::None)
        return grid;
    grid.fillData(QString());
    codec::decodeHeader(data, model, grid);
    for (int r = 2; r < TableGrid::RowCount; ++r)
        codec::decodeRecord(data + codec::RecordSize * (r - 1), model, grid, r);
    return grid;
}

QString hexByte(std::uint8_t b)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QString differenceLine(const Difference& d)
{
    return terminalText(
        QStringLiteral("%1: %2 -> %3").arg(fieldPlace(d.association, d.field), shownValue(d.from), shownValue(d.to)));
}

QByteArray differencesJson(const std::vector<Difference>& found)
{
    QJsonArray list;
    for (const Difference& d : found) {
        QJsonObject o;
        o.insert(QStringLiteral("association"), fields::isHeaderField(d.field) ? QJsonValue() : QJsonValue(d.association));
        o.insert(QStringLiteral("field"), fieldKey(d.field));
        o.insert(QStringLiteral("from"), d.from);
        o.insert(QStringLiteral("to"), d.to);
        list.append(o);
    }
    return QJsonDocument(list).toJson(QJsonDocument::Indented);
}

QStringList storedDifferences(const QByteArray& sent, const QByteArray& stored)
{
    constexpr int Compared = codec::ClockOffset;
    QStringList lines;
    if (sent.size() < Compared || stored.size() < Compared) {
        lines << QStringLiteral("la tabella della centralina è incompleta");
        return lines;
    }
    std::set<int> explained; // associations (0 the header) a field line names
    for (const Difference& d : differences(decodedTable(sent.left(Compared)), decodedTable(stored.left(Compared)))) {
        lines << differenceLine(d);
        explained.insert(d.association);
    }
    for (int i = 0; i < Compared; ++i) {
        const auto a = std::uint8_t(sent[i]);
        const auto b = std::uint8_t(stored[i]);
        const int association = i / codec::RecordSize;
        if (a == b || explained.count(association))
            continue;
        const QString place = association == 0 ? QStringLiteral("Intestazione")
                                               : QStringLiteral("Associazione %1").arg(association);
        lines << QStringLiteral("%1, byte %2: %3 -> %4")
                     .arg(place)
                     .arg(i % codec::RecordSize + 1)
                     .arg(hexByte(a), hexByte(b));
    }
    return lines;
}

} // namespace tool

#include "device/WritePlan.h"

#include "device/Codec.h"
#include "device/DayLineRules.h"
#include "device/Frames.h"
#include "device/GridLayout.h"
#include "device/LineObserver.h"
#include "device/Pacer.h"
#include "serial/CommInt.h"

namespace writeplan {
namespace {

constexpr int FirstAssociation = 1;
constexpr int LastAssociation = codec::RecordCount;

QByteArray bytesOf(const std::uint8_t* bytes, int count)
{
    return QByteArray(reinterpret_cast<const char*>(bytes), count);
}

void refuse(Plan& plan, int association, Field field, const QString& cellText)
{
    plan.association = association;
    plan.field = field;
    if (field == Field::Model) {
        plan.message = noModelMessage();
        return;
    }
    const fields::Description& named = fields::describe(field);
    const bool missing = named.mark && (cellText.isEmpty() || layout::cell::holds(cellText, layout::cell::Nothing));
    const QString verdict = missing ? QStringLiteral("mancante")
        : named.feminine            ? QStringLiteral("non valida")
                                    : QStringLiteral("non valido");
    const QString where
        = association > 0 ? QStringLiteral("Associazione %1").arg(association) : QStringLiteral("Intestazione");
    plan.message = QStringLiteral("%1: %2 %3").arg(where, QLatin1String(named.name), verdict);
}

// The selector set to `selector`: when that changes it, the editor is filled
// from the association's row, and the day-type and line boxes write their
// rules back into the row when their text changes.
void select(TableGrid& grid, EditorState& boxes, int selector, codec::Model model)
{
    if (boxes.selector == selector)
        return;
    boxes.selector = selector;
    const int row = selector + 1;
    const dayline::Boxes fill = dayline::boxesForRow(grid, row, model);
    if (fill.dayType && *fill.dayType != boxes.dayType) {
        boxes.dayType = *fill.dayType;
        dayline::dayTypeChanged(grid, row, boxes.dayType);
    }
    if (fill.line && *fill.line != boxes.line) {
        boxes.line = *fill.line;
        dayline::lineChanged(grid, row, boxes.line);
    }
}

// One piece, one port write. A piece the line did not take whole leaves a
// table in the box that must not be added to. `left` is when the port had
// put the bytes on the line: the box's pause after the piece counts from
// then, and what the line log does with them is part of that pause.
bool put(TCustomComm& port, const std::uint8_t* bytes, int count, LineObserver* observer,
         Pacer::TimePoint* left = nullptr)
{
    const int result = port.Write(bytes, count);
    if (left)
        *left = Pacer::TimePoint::clock::now();
    if (observer)
        observer->written(bytes, count, result);
    return result == count;
}

// Where a send stopped, for the piece at `index` of a plan.
StopPoint stopPointOf(std::size_t index, int association)
{
    // The request is the first piece, the header the second.
    if (association > 0)
        return { StopPoint::Piece::Association, association };
    return index == 0 ? StopPoint { StopPoint::Piece::Request, 0 } : StopPoint { StopPoint::Piece::Header, 0 };
}

} // namespace

void fillMissingCarrier(TableGrid& grid, int row)
{
    using layout::cell::holds;
    using layout::cell::Nothing;
    constexpr layout::Columns carrier = layout::kolvar22::Carrier;
    if (holds(grid.cell(layout::kolvar22::Prefix.first, row), Nothing))
        return;
    for (int c = carrier.first; c <= carrier.last; ++c)
        if (!holds(grid.cell(c, row), Nothing))
            return;
    for (int c = carrier.first; c <= carrier.last; ++c)
        grid.setCell(c, row, layout::cell::Star);
}

Plan plan(const TableGrid& grid, const EditorState& editor)
{
    Plan plan;
    // A copy takes the cells only: nothing that shows the original hears of the steps.
    plan.grid = grid;
    plan.editor = editor;
    TableGrid& table = plan.grid;

    const codec::Model model = codec::modelOf(table);
    if (model == codec::Model::None) {
        refuse(plan, 0, Field::Model, table.cell(layout::header::ModelColumn, layout::HeaderRow));
        return plan;
    }
    // 3 + 16 bytes, then at most 10 pieces a record.
    plan.pieces.reserve(2 + 10 * LastAssociation);
    plan.pieces.push_back({ bytesOf(frames::WriteRequest.data(), int(frames::WriteRequest.size())), PauseAfterRequestMs, 0 });

    try {
        const codec::Record header = codec::encodeHeader(table);
        plan.pieces.push_back({ bytesOf(header.data(), codec::RecordSize), PauseAfterHeaderMs, 0 });
    } catch (const codec::ConversionError& e) {
        refuse(plan, 0, e.field(), e.text());
        return plan;
    }

    int association = 0;
    const codec::PieceSink keep = [&plan, &association](const std::uint8_t* bytes, int count) {
        plan.pieces.push_back({ bytesOf(bytes, count), 0, association });
        return true;
    };
    for (association = FirstAssociation; association <= LastAssociation; ++association) {
        const int row = association + 1;
        select(table, plan.editor, association, model);
        try {
            if (model == codec::Model::Kolvar22) {
                fillMissingCarrier(table, row);
                codec::encodeKolvar22Pieces(table, row, keep);
            } else {
                const codec::Record record = codec::encodeRecord(table, row, model);
                keep(record.data(), codec::RecordSize);
            }
        } catch (const codec::ConversionError& e) {
            refuse(plan, association, e.field(), e.text());
            return plan;
        }
        plan.pieces.back().pauseAfterMs = PauseAfterRecordMs;
    }
    select(table, plan.editor, FirstAssociation, model);
    return plan;
}

QString cutShortMessage(const StopPoint& at)
{
    QString where;
    switch (at.piece) {
    case StopPoint::Piece::Request:
        where = QStringLiteral("all'inizio");
        break;
    case StopPoint::Piece::Header:
        where = QStringLiteral("all'intestazione");
        break;
    case StopPoint::Piece::Association:
        where = QStringLiteral("all'associazione %1").arg(at.association);
        break;
    case StopPoint::Piece::Clock:
        where = QStringLiteral("all'orologio");
        break;
    }
    return QStringLiteral("Scrittura interrotta %1: la centralina ha ricevuto solo parte della tabella, "
                          "che va scritta di nuovo")
        .arg(where);
}

QString noModelMessage()
{
    return QStringLiteral("Nessun modello selezionato: leggere la centralina, caricare un file o scegliere il "
                          "modello dal menu");
}

std::optional<Result> refusal(const Plan& plan)
{
    if (plan.ok())
        return std::nullopt;
    return Result{ Result::Outcome::Refused, {}, plan.message };
}

Result send(const Plan& plan, TCustomComm& port, Pacer& pacer, const Clock& clock,
            const RecordStarting& recordStarting, LineObserver* observer)
{
    if (const std::optional<Result> refused = refusal(plan))
        return *refused;
    const auto cutShort = [](StopPoint at) { return Result { Result::Outcome::CutShort, at, cutShortMessage(at) }; };
    const std::vector<Piece>& pieces = plan.pieces;
    // Each record is announced once, before its first piece: in the pause
    // that precedes it, so that showing it does not lengthen the pause.
    int association = 0;
    const auto announce = [&association, &recordStarting](int next) {
        if (next == association)
            return;
        association = next;
        if (recordStarting)
            recordStarting(association);
    };
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const Piece& piece = pieces[i];
        announce(piece.association);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(piece.bytes.constData());
        Pacer::TimePoint left;
        if (!put(port, bytes, int(piece.bytes.size()), observer, &left))
            return cutShort(stopPointOf(i, association));
        if (piece.pauseAfterMs > 0) {
            const int next = i + 1 < pieces.size() ? pieces[i + 1].association : association;
            pacer.pauseSince(left, piece.pauseAfterMs, [&announce, next] { announce(next); });
        }
    }

    const ClockReading now = clock.now();
    const codec::ClockBlock block = codec::encodeClock(now.hours, now.minutes, now.weekday);
    for (const std::uint8_t byte : block)
        if (!put(port, &byte, 1, observer))
            return cutShort({ StopPoint::Piece::Clock, 0 });
    return {};
}

} // namespace writeplan

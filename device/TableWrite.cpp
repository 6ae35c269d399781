#include "device/TableWrite.h"

#include "device/Codec.h"
#include "device/Frames.h"
#include "device/GridLayout.h"
#include "device/Link.h"
#include "device/ReceiveBuffer.h"
#include "device/Seams.h"
#include "serial/CommInt.h"

namespace tablewrite {
namespace {

constexpr int PauseAfterRequestMs = 45;
constexpr int PauseAfterHeaderMs = 55;
constexpr int PauseAfterRecordMs = 50;

// One piece, one port write. A piece the line did not take whole leaves a
// table in the box that must not be added to.
bool put(TCustomComm& port, const std::uint8_t* bytes, int count)
{
    return port.Write(bytes, count) == count;
}

// Sends the table; `at` follows the piece under way, so that where the line
// stopped is known when this returns false or raises.
bool sendTable(TableGrid& grid, const Line& line, const Steps& steps, StopPoint& at)
{
    using Piece = StopPoint::Piece;
    TCustomComm& port = line.port;
    at = { Piece::Request, 0 };
    if (!put(port, frames::WriteRequest.data(), int(frames::WriteRequest.size())))
        return false;
    line.pacer.sleep(PauseAfterRequestMs);

    at = { Piece::Header, 0 };
    const codec::Record header = codec::encodeHeader(grid);
    if (!put(port, header.data(), codec::RecordSize))
        return false;
    line.pacer.sleep(PauseAfterHeaderMs);

    const codec::Model model = codec::modelOf(grid);
    const codec::PieceSink piece = [&port](const std::uint8_t* bytes, int count) { return put(port, bytes, count); };
    for (int row = layout::FirstAssociationRow; row <= layout::LastAssociationRow; ++row) {
        at = { Piece::Association, row - 1 };
        steps.selectAssociation(row - 1);
        if (model == codec::Model::Kolvar22) {
            fillMissingCarrier(grid, row);
            steps.rowReady();
            if (!codec::encodeKolvar22Pieces(grid, row, piece))
                return false;
        } else {
            steps.rowReady();
            const codec::Record record = codec::encodeRecord(grid, row, model);
            if (!put(port, record.data(), codec::RecordSize))
                return false;
        }
        line.pacer.sleep(PauseAfterRecordMs);
    }

    at = { Piece::Clock, 0 };
    steps.selectAssociation(1);
    const ClockReading now = line.clock.now();
    const codec::ClockBlock clock = codec::encodeClock(now.hours, now.minutes, now.weekday);
    for (const std::uint8_t byte : clock)
        if (!put(port, &byte, 1))
            return false;
    return true;
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

Result send(TableGrid& grid, const Line& line, const Steps& steps)
{
    // Without a model there are no rules to send the records by: nothing goes out.
    if (codec::modelOf(grid) == codec::Model::None)
        return { Result::Outcome::Refused, {}, noModelMessage() };
    line.link.begin();
    StopPoint at;
    bool whole = false;
    try {
        line.receive.restart();
        whole = sendTable(grid, line, steps, at);
    } catch (const codec::ConversionError&) {
        // The piece that holds the cell was not sent: the box has what went before.
        whole = false;
    } catch (...) {
        line.link.close();
        throw;
    }
    if (!whole) {
        line.link.close();
        return { Result::Outcome::CutShort, at, cutShortMessage(at) };
    }
    line.link.finish();
    return {};
}

} // namespace tablewrite

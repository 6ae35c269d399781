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

bool sendTable(TableGrid& grid, const Line& line, const Steps& steps)
{
    TCustomComm& port = line.port;
    if (!put(port, frames::WriteRequest.data(), int(frames::WriteRequest.size())))
        return false;
    line.pacer.sleep(PauseAfterRequestMs);

    const codec::Record header = codec::encodeHeader(grid);
    if (!put(port, header.data(), codec::RecordSize))
        return false;
    line.pacer.sleep(PauseAfterHeaderMs);

    const codec::Model model = codec::modelOf(grid);
    const codec::PieceSink piece = [&port](const std::uint8_t* bytes, int count) { return put(port, bytes, count); };
    for (int row = layout::FirstAssociationRow; row <= layout::LastAssociationRow; ++row) {
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

Result send(TableGrid& grid, const Line& line, const Steps& steps)
{
    // Without a model there are no rules to send the records by: nothing goes out.
    if (codec::modelOf(grid) == codec::Model::None)
        throw codec::ConversionError(grid.cell(layout::header::ModelColumn, layout::HeaderRow),
                                     layout::header::ModelColumn, layout::HeaderRow);
    line.link.begin();
    try {
        line.receive.restart();
        if (!sendTable(grid, line, steps)) {
            line.link.close();
            return Result::LineFailed;
        }
    } catch (...) {
        line.link.close();
        throw;
    }
    line.link.finish();
    return Result::Sent;
}

} // namespace tablewrite

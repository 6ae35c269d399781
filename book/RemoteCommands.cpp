#include "book/RemoteCommands.h"

#include "device/Exchange.h"
#include "device/Frames.h"
#include "device/Pacer.h"
#include "device/TableGrid.h"

#include <optional>
#include <utility>

namespace {

// The exchange needs this long to give an outside line after its prefix.
constexpr int OutsideLineMs = 4000;
// The called box answers the unit only once the call has settled.
constexpr int CallSettleMs = 5000;
// The box takes the table into its memory before it is told to keep it.
constexpr int TableSettleMs = 1200;

// The dial frame of a number the operator typed or a card holds, or a
// message saying why it has none. A number is never dialled cut short.
std::optional<frames::Frame> dialFrame(const QString& digits, const QString& what, QString& refusal)
{
    std::optional<frames::Frame> frame = frames::dial(digits);
    if (!frame) {
        refusal = digits.size() > frames::MaxDialDigits
            ? QStringLiteral("%1 troppo lungo: al massimo %2 cifre").arg(what).arg(frames::MaxDialDigits)
            : QStringLiteral("%1 non valido: sono ammesse solo cifre").arg(what);
    }
    return frame;
}

} // namespace

RemoteCommands::RemoteCommands(Exchange& exchange, Pacer& pacer, Window window)
    : exchange_(exchange)
    , pacer_(pacer)
    , window_(std::move(window))
{
}

bool RemoteCommands::send(const std::uint8_t* bytes, int count)
{
    return exchange_.write(bytes, count) != -1;
}

bool RemoteCommands::call(const QString& surname, const QString& prefix, const QString& number)
{
    // Both numbers are judged before the port is touched: a refused one
    // must not leave the prefix dialled and the line taken.
    QString refusal;
    std::optional<frames::Frame> prefixFrame;
    if (!prefix.isEmpty())
        prefixFrame = dialFrame(prefix, QStringLiteral("Prefisso"), refusal);
    const std::optional<frames::Frame> numberFrame =
        refusal.isEmpty() ? dialFrame(number, QStringLiteral("Numero telefonico"), refusal) : std::nullopt;
    if (!refusal.isEmpty()) {
        window_.inform(refusal);
        return false;
    }

    window_.setStatus(QStringLiteral("Composizione numero utente:  ") + surname);
    exchange_.begin();
    if (prefixFrame) {
        // A prefix the unit missed shows as a call that does not go through.
        send(prefixFrame->data(), int(prefixFrame->size()));
        pacer_.sleep(OutsideLineMs);
    }
    if (!send(numberFrame->data(), int(numberFrame->size())))
        return false;
    exchange_.finish();
    window_.focusRead();
    return true;
}

bool RemoteCommands::readRemote()
{
    window_.setStatus(QStringLiteral("Lettura dati programmazioni"));
    exchange_.begin();
    // A dump cut short earlier (the port then closed by "Esci") left its bytes
    // in the receive buffer; the box's table must start a new accumulation.
    exchange_.restartReceive();
    pacer_.sleep(CallSettleMs);
    if (!send(frames::RemoteReadRequest.data(), int(frames::RemoteReadRequest.size())))
        return false;
    // The port stays open: the table arrives through the receive handler.
    window_.focusWrite();
    return true;
}

bool RemoteCommands::writeRemote(const TableGrid& summary, TableGrid& mainGrid)
{
    window_.setStatus(QStringLiteral("Invio dati programmazioni"));
    mainGrid.copyDataFrom(summary);
    // Only a table that went out whole may be kept: telling the box to keep
    // what it holds after a refused or cut-short write would commit whatever
    // part of a table it has.
    const writeplan::Result written = window_.writeTable();
    switch (written.outcome) {
    case writeplan::Result::Outcome::Sent:
        break;
    case writeplan::Result::Outcome::Refused:
        window_.setStatus(QStringLiteral("Dati non inviati"));
        window_.inform(written.message);
        return false;
    case writeplan::Result::Outcome::CutShort:
        window_.setStatus(QStringLiteral("Invio interrotto"));
        window_.inform(written.message);
        return false;
    }
    pacer_.sleep(TableSettleMs);
    exchange_.begin();
    if (!send(frames::RemoteWriteRequest.data(), int(frames::RemoteWriteRequest.size())))
        return false;
    // The port stays open for the box's reply, which closes it.
    exchange_.setBusy(false);
    return true;
}

bool RemoteCommands::hangUp()
{
    window_.setStatus(QString());
    exchange_.begin();
    if (!send(frames::HangUp.data(), int(frames::HangUp.size())))
        return false;
    exchange_.finish();
    return true;
}

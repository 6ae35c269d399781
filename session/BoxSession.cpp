#include "session/BoxSession.h"

#include "device/Frames.h"
#include "device/Pacer.h"
#include "device/TableGrid.h"
#include "editor/AssociationEditor.h"
#include "editor/FieldRules.h"
#include "serial/CommInt.h"
#include "serial/PortList.h"
#include "session/StopFlag.h"

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

// What a window's editor writes into a table it has just read: the header
// box takes the management and writes its rule back, and the selector,
// back on association 1, fills the day-type and line boxes, whose rules
// complete that row. A table read without a window is completed the same
// way, so a read gives one table whoever started it. The rules only ever
// write what the cells already say, or the separators they stand for, so
// running them again (the window does, as its boxes change) changes nothing.
void runEditorRules(TableGrid& grid, codec::Model model)
{
    if (const std::optional<QString> management = editor::boxesForHeader(grid).management)
        editor::managementChanged(grid, *management);
    const editor::BoxFill first = editor::boxesForAssociation(grid, 1, model);
    const int row = editor::associationRow(1);
    if (const std::optional<QString>& dayType = first[fields::Field::DayType])
        editor::dayTypeChanged(grid, row, *dayType);
    if (const std::optional<QString>& line = first[fields::Field::Line])
        editor::lineChanged(grid, row, *line);
}

} // namespace

BoxSession::BoxSession(TCustomComm& port, TableGrid& grid, Pacer& pacer, const Clock& clock, QObject* parent)
    : QObject(parent)
    , exchange_(port, grid)
    , pacer_(pacer)
    , clock_(clock)
{
    connect(&exchange_, &Exchange::tableReceived, this, &BoxSession::completeRead);
    silence_.setSingleShot(true);
    connect(&silence_, &QTimer::timeout, this, &BoxSession::giveUpWaiting);
    // Every event restarts the wait; an answer ends it.
    connect(&exchange_, &Exchange::received, this, [this] {
        if (silence_.isActive())
            silence_.start();
    });
    connect(&exchange_, &Exchange::replyReceived, &silence_, qOverload<>(&QTimer::stop));
}

BoxSession::~BoxSession() = default;

void BoxSession::keepBackup(const TableGrid& table, editor::BackupDirection direction)
{
    if (!keepBackups_)
        return;
    QString why;
    if (editor::keepTableBackup(table, direction, why).isEmpty())
        emit backupFailed(why);
}

void BoxSession::setSilenceLimit(int ms)
{
    silence_.setInterval(ms);
    if (ms <= 0)
        silence_.stop();
}

void BoxSession::awaitAnswer()
{
    if (silence_.interval() > 0)
        silence_.start();
}

void BoxSession::giveUpWaiting()
{
    if (!exchange_.port().Enabled())
        return;
    const int position = exchange_.receiveBuffer().position();
    exchange_.restartReceive();
    exchange_.finish();
    emit answerMissing(position);
}

bool BoxSession::stopped() const
{
    return stop_ && stop_->requested();
}

void BoxSession::receive(int count)
{
    QString failure;
    try {
        exchange_.receive(count);
        return;
    } catch (const ECommError& error) {
        failure = serialErrorText(error);
    } catch (...) {
        failure = QStringLiteral("errore inatteso durante la ricezione");
    }
    // As "Stop" leaves it: the port closed, the link idle; the answer
    // awaited will not come.
    silence_.stop();
    exchange_.restartReceive();
    exchange_.finish();
    lineFailure_ = failure;
    emit lineFailed(failure);
}

QString BoxSession::serialErrorText(const ECommError& error)
{
    QString text = QStringLiteral("Serial error: ") + error.Message().trimmed();
    const QString hint = portOpenHint(error.Device(), error.ErrorCode());
    if (!hint.isEmpty())
        text += QLatin1Char('\n') + hint;
    return text;
}

void BoxSession::readTable()
{
    stepBegins();
    silence_.stop();
    exchange_.requestTable();
    awaitAnswer();
}

void BoxSession::completeRead(const ReceivedTable& table)
{
    silence_.stop();
    runEditorRules(exchange_.grid(), table.model);
    keepBackup(exchange_.grid(), editor::BackupDirection::Read);
    emit tableRead(table);
}

writeplan::Result BoxSession::writeTable(const TableGrid& table, const writeplan::EditorState& editor)
{
    // The whole table is judged before the port is opened: a box must never
    // be left holding part of one.
    return writePlan(writeplan::plan(table, editor));
}

writeplan::Result BoxSession::writePlan(const writeplan::Plan& plan)
{
    if (const std::optional<writeplan::Result> refused = writeplan::refusal(plan))
        return *refused;
    stepBegins();
    silence_.stop();
    // The table as it goes out, so the operator can always put it back.
    keepBackup(plan.grid, editor::BackupDirection::Write);
    emit writeStarting(plan);
    exchange_.grid().copyDataFrom(plan.grid);
    const writeplan::Result result
        = exchange_.writeTable(plan, pacer_, clock_, [this](int association) { emit recordStarting(association); });
    emit writeEnded(plan, result);
    return result;
}

bool BoxSession::send(const std::uint8_t* bytes, int count)
{
    return exchange_.write(bytes, count) != -1;
}

bool BoxSession::call(const QString& surname, const QString& prefix, const QString& number)
{
    exchange_.announce(QStringLiteral("Chiama"));
    // Both numbers are judged before the port is touched: a refused one
    // must not leave the prefix dialled and the line taken.
    QString refused;
    std::optional<frames::Frame> prefixFrame;
    if (!prefix.isEmpty())
        prefixFrame = dialFrame(prefix, QStringLiteral("Prefisso"), refused);
    const std::optional<frames::Frame> numberFrame =
        refused.isEmpty() ? dialFrame(number, QStringLiteral("Numero telefonico"), refused) : std::nullopt;
    if (!refused.isEmpty()) {
        emit stepRefused(refused);
        return false;
    }

    emit status(QStringLiteral("Composizione numero utente:  ") + surname);
    stepBegins();
    silence_.stop();
    exchange_.begin();
    if (prefixFrame) {
        // A prefix the unit missed shows as a call that does not go through.
        send(prefixFrame->data(), int(prefixFrame->size()));
        pacer_.sleep(OutsideLineMs);
        if (stopped())
            return false;
    }
    if (!send(numberFrame->data(), int(numberFrame->size())))
        return false;
    exchange_.finish();
    return true;
}

bool BoxSession::readRemote()
{
    exchange_.announce(QStringLiteral("Leggi Dati"));
    emit status(QStringLiteral("Lettura dati programmazioni"));
    stepBegins();
    silence_.stop();
    exchange_.begin();
    // A dump cut short earlier (the port then closed by "Esci") left its bytes
    // in the receive buffer; the box's table must start a new accumulation.
    exchange_.restartReceive();
    pacer_.sleep(CallSettleMs);
    if (stopped())
        return false;
    // The port stays open: the table arrives through the receive handler.
    if (!send(frames::RemoteReadRequest.data(), int(frames::RemoteReadRequest.size())))
        return false;
    awaitAnswer();
    return true;
}

BoxSession::RemoteWrite BoxSession::writeRemote(const TableGrid& summary, const writeplan::EditorState& editor)
{
    exchange_.announce(QStringLiteral("Scrivi Dati"));
    emit status(QStringLiteral("Invio dati programmazioni"));
    exchange_.grid().copyDataFrom(summary);
    // Only a table that went out whole may be kept: telling the box to keep
    // what it holds after a refused or cut-short write would commit whatever
    // part of a table it has.
    RemoteWrite written{ writeTable(exchange_.grid(), editor), false };
    switch (written.table.outcome) {
    case writeplan::Result::Outcome::Sent:
        break;
    case writeplan::Result::Outcome::Refused:
        emit status(QStringLiteral("Dati non inviati"));
        emit stepRefused(written.table.message);
        return written;
    case writeplan::Result::Outcome::CutShort:
        emit status(QStringLiteral("Invio interrotto"));
        emit stepRefused(written.table.message);
        return written;
    }
    pacer_.sleep(TableSettleMs);
    if (stopped())
        return written;
    exchange_.begin();
    written.confirmationSent = send(frames::RemoteWriteRequest.data(), int(frames::RemoteWriteRequest.size()));
    // The port stays open for the box's reply, which closes it.
    if (written.confirmationSent) {
        exchange_.setBusy(false);
        awaitAnswer();
    }
    return written;
}

bool BoxSession::hangUp()
{
    exchange_.announce(QStringLiteral("Sconnetti"));
    emit status(QString());
    stepBegins();
    silence_.stop();
    exchange_.begin();
    if (!send(frames::HangUp.data(), int(frames::HangUp.size())))
        return false;
    exchange_.finish();
    return true;
}

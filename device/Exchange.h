#pragma once

#include "device/Codec.h"
#include "device/ReceiveBuffer.h"
#include "device/WritePlan.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>

class Clock;
class LineObserver;
class Pacer;
class TableGrid;
class TCustomComm;

// What a completed table brought besides its grid rows.
struct ReceivedTable
{
    codec::Model model = codec::Model::None;
    codec::HeaderChecks checks; // beep and flash, always off for Kolvar1
    QString clockText;          // the box's clock as shown for Kolvar22; empty for Kolvar1
    QString deviceText;         // the sixteen characters after the clock
    QByteArray image;           // the 2067 bytes as the box sent them
};

// The line every exchange with a box runs on: 9600 baud 8N1 without flow
// control, the read and write time-outs and the events the exchange needs.
// Set on the port while it is closed, by every front end alike.
void setBoxLineSettings(TCustomComm& port);

// The serial link of every exchange with a box or with the dialling unit:
// the port, opened on the port name for each exchange and closed at its end;
// whether an exchange is under way (busy) or the link idle; the bytes the
// box sends, accumulated until they make a table or a reply frame; the
// table decoded into the grid it is handed; and the write of a planned table.
//
// It owns no window and works from any event loop. A BoxSession owns it and
// runs the steps on it; the front ends connect to its signals for what they
// show (the LED, the progress), from a window or from a QCoreApplication.
// The port's OnRxChar is bound by the owner to a handler that ends in
// receive(). Every byte written and read passes the LineObserver, when one
// is installed.
//
// All of it runs on the thread that runs the port's handlers. Signals are
// emitted synchronously, in the order the steps happen; slots connected to
// one signal run in the order they were connected.
class Exchange : public QObject
{
    Q_OBJECT

public:
    Exchange(TCustomComm& port, TableGrid& grid, QObject* parent = nullptr);
    ~Exchange() override;

    TCustomComm& port() const { return port_; }
    TableGrid& grid() const { return grid_; }

    // The device the next exchange opens ("Com2", "/dev/ttyUSB0").
    void setPortName(const QString& name) { portName_ = name; }
    QString portName() const { return portName_; }

    // Installed for the exchanges from now on; null removes it. Not owned.
    void setObserver(LineObserver* observer) { observer_ = observer; }
    // The operator's action that starts the exchanges that follow (a
    // button's caption, a command line), told to the observer.
    void announce(const QString& action);
    // The same, only while the port is open: who let go of a line (a "Stop",
    // the window closing) is worth telling, a click on an idle link is not.
    void announceIfOpen(const QString& action);

    // ---- the link

    bool busy() const { return busy_; }
    // Busy while an exchange is under way; busyChanged tells each change.
    void setBusy(bool busy);
    // Busy, then the port opened on the port name with RTS and DTR raised,
    // in that order. A port that cannot be opened (or is still open from an
    // unfinished exchange) raises ECommError and leaves the link busy.
    void begin();
    // The port closed; the link stays busy: a failed exchange is not over.
    void close();
    // The port closed and the link idle: the exchange is over.
    void finish();

    // One port write of `count` bytes: what the port returned (the count, or
    // -1 when the line did not take them within the write time-out).
    int write(const std::uint8_t* bytes, int count);

    // ---- reading

    // "Leggi Eeprom": begin(), a new accumulation, and the read request. A
    // request the line did not take shows as a box that never answers.
    void requestTable();
    // The next bytes start a new accumulation; the old ones stay in the buffer.
    void restartReceive() { receive_.restart(); }
    const ReceiveBuffer& receiveBuffer() const { return receive_; }

    // The port reports `count` bytes waiting: they are read (as many as the
    // port's ReadBufSize allows) and accumulated. A table completed on the
    // way is decoded into the grid (tableStarted, rowDecoding for each
    // association row, then the link idle and tableReceived); a reply frame
    // completed by the event is told by replyReceived, then the link goes
    // idle. False when the port's read failed: nothing was stored and
    // `received` is not emitted.
    bool receive(int count);

    // ---- writing

    // The plan's table to the box: begin(), a new accumulation, the plan's
    // pieces and the clock (writeplan::send). Sent: the port is closed and
    // the link idle. Cut short: the port is closed and the link stays busy.
    // The plan is one that can be written: the session judges it (and keeps
    // its backup) before it comes here. A port that cannot be opened raises
    // ECommError.
    writeplan::Result writeTable(const writeplan::Plan& plan, Pacer& pacer, const Clock& clock,
                                 const writeplan::RecordStarting& recordStarting = {});

signals:
    void busyChanged(bool busy);
    // Bytes of a table under way were stored (a window steps its progress bar).
    void progress(int tableBytes);
    // A table is whole; its decoding into the grid begins.
    void tableStarted(codec::Model model);
    // Association row `row` (2..128) is about to be decoded: a window that
    // shows the rows coming in paces them here. Nobody watching, no pace.
    void rowDecoding(int row);
    // The table is in the grid, the buffer cleared, the port closed, the link idle.
    void tableReceived(const ReceivedTable& table);
    // A reply frame: 7 the box took the table, 8 an error, any other code
    // nothing. Emitted before the link goes idle and the port closes.
    void replyReceived(int code);
    // A receive event has been handled to its end.
    void received();
    // The port reported line errors (framing, parity, overrun), when it
    // is set to monitor them.
    void lineError(int errors);

private:
    void completeTable(codec::Model model, const std::uint8_t* image);

    TCustomComm& port_;
    TableGrid& grid_;
    QString portName_;
    LineObserver* observer_ = nullptr;
    ReceiveBuffer receive_;
    bool busy_ = false;
};

#pragma once

#include "device/Exchange.h"
#include "device/WritePlan.h"
#include "tables/TableBackup.h"

#include <QObject>
#include <QString>
#include <QTimer>


class Clock;
class ECommError;
class LineObserver;
class StopFlag;
class Pacer;
class TableGrid;
class TCustomComm;

// One box worked on one serial port: the steps an operator, a script or the
// fleet's audit runs against it, each written once. The main window, the
// address book window and pradix-tool only gather their input, start a step
// and show what the signals below tell; none of them computes a step.
//
// The session owns the exchange on the port and grid it is handed, passes
// every byte to the line log hook installed with setObserver, keeps a backup
// of every table read and of every table about to be written, and makes the
// remote steps' waits through the Pacer it is handed. It holds no global
// state: sessions on several ports live side by side on one thread, each
// with its own port, grid and pacer.
//
// Everything runs on the thread that runs the port's handlers; signals are
// emitted synchronously, in the order the steps happen. A port that cannot
// be opened raises ECommError from the step that opens it, with nothing of
// that step sent.
class BoxSession : public QObject
{
    Q_OBJECT

public:
    BoxSession(TCustomComm& port, TableGrid& grid, Pacer& pacer, const Clock& clock, QObject* parent = nullptr);
    ~BoxSession() override;

    Exchange& exchange() { return exchange_; }
    const Exchange& exchange() const { return exchange_; }
    TableGrid& grid() const { return exchange_.grid(); }

    // The line log hook for the exchanges from now on; null removes it. Not owned.
    void setObserver(LineObserver* observer) { exchange_.setObserver(observer); }

    // How long the line may stay silent while the session awaits an answer
    // (a table after readTable or readRemote, the reply after writeRemote).
    // Past it the wait ends as "Stop" ends it, the port closed and the link
    // idle, and answerMissing tells it. 0, as the windows have it: the
    // operator decides when to stop waiting.
    void setSilenceLimit(int ms);
    int silenceLimit() const { return silence_.interval(); }

    // A raised flag ends the remote steps at their next wait: the step
    // returns false with nothing more sent, the port as the step left it,
    // for the caller to hang up. Not owned; null: no flag.
    // Whether each table read or written is kept as a backup (as the windows
    // keep them; on unless turned off). The audit reads hundreds of boxes a
    // night into a store of its own: its reads must not push the operator's
    // backups out of the folder's quota.
    void setKeepBackups(bool keep) { keepBackups_ = keep; }

    void setStopFlag(StopFlag* stop) { stop_ = stop; }
    StopFlag* stopFlag() const { return stop_; }
    bool stopped() const;

    // The port's receive handler: `count` bytes waiting go to the exchange.
    // A port that fails meanwhile (a line that hung up) is closed, the link
    // left idle, and lineFailed tells it; nothing is thrown to the port.
    void receive(int count);
    // The failure lineFailed last told, until the next step starts.
    const QString& lineFailure() const { return lineFailure_; }
    // "Serial error: " and the port's message, with a hint for the operator
    // on a line of its own when there is one.
    static QString serialErrorText(const ECommError& error);

    // ---- the box on the line

    // "Leggi Eeprom": the read request. The table arrives through the port's
    // receive handler, which ends in exchange().receive(); once it is in the
    // grid, with the editor's box rules run on it as a window runs them and
    // its backup kept, tableRead tells it.
    void readTable();

    // "Scrivi Eeprom": the table as the write completes it from `table` and
    // the editor's state, judged, backed up, put in the grid and sent
    // (writeStarting, recordStarting for every piece's record, writeEnded).
    writeplan::Result writeTable(const TableGrid& table, const writeplan::EditorState& editor);
    // The same for a plan already made.
    writeplan::Result writePlan(const writeplan::Plan& plan);

    // ---- the remote steps, through the dialling unit

    // Each returns whether it went out whole: false after a refusal (told
    // by stepRefused) or a frame the line did not take, with the port left
    // as the step left it. Each tells the log its name first.

    // "Chiama": the prefix for an outside line (when there is one), a pause
    // for the exchange to give the line, then the customer's number.
    bool call(const QString& surname, const QString& prefix, const QString& number);
    // "Leggi Dati": asks the called box for its table, which arrives as a
    // read's does (tableRead).
    bool readRemote();
    // "Scrivi Dati": `summary` goes into the grid and out as writeTable sends
    // it, then the called box is told to keep it; its answer arrives as
    // exchange().replyReceived. Only a table that went out whole is followed
    // by that command.
    struct RemoteWrite
    {
        writeplan::Result table;
        bool confirmationSent = false;
    };
    RemoteWrite writeRemote(const TableGrid& summary, const writeplan::EditorState& editor);
    // "Sconnetti": the dialling unit releases the line.
    bool hangUp();

signals:
    // A table read is in the grid, its box rules run and its backup kept.
    void tableRead(const ReceivedTable& table);
    // A judged table is about to go out: nothing is on the line yet, the
    // backup is kept, the grid does not hold it yet.
    void writeStarting(const writeplan::Plan& plan);
    // The grid holds the plan's table; the record of `association` (0 for
    // the request and the header) goes out next.
    void recordStarting(int association);
    // The write is over, whatever its result.
    void writeEnded(const writeplan::Plan& plan, const writeplan::Result& result);
    // What a remote step is doing, for a status line; empty clears it.
    void status(const QString& text);
    // Why a remote step did not go (a number that cannot be dialled, a table
    // that was refused or cut short), for the operator.
    void stepRefused(const QString& message);
    // A backup could not be kept: the step went on without it.
    void backupFailed(const QString& why);
    // The answer awaited did not come within the silence limit;
    // `bytesReceived` of it had come.
    void answerMissing(int bytesReceived);
    // The port failed while the box's answer was arriving (lineFailure).
    void lineFailed(const QString& message);

private:
    // A step has left the port open for the box's answer.
    void awaitAnswer();
    void giveUpWaiting();
    void keepBackup(const TableGrid& table, editor::BackupDirection direction);
    void completeRead(const ReceivedTable& table);
    // False when the line did not take the frame within the write time-out.
    bool send(const std::uint8_t* bytes, int count);
    // A step begins: an earlier step's line failure is over.
    void stepBegins() { lineFailure_.clear(); }

    Exchange exchange_;
    Pacer& pacer_;
    const Clock& clock_;
    QTimer silence_;
    StopFlag* stop_ = nullptr;
    bool keepBackups_ = true;
    QString lineFailure_;
};

#pragma once

#include "device/Exchange.h"

#include <QString>

#include <functional>

class BoxSession;
class StopFlag;

// How a remote step ended, or what the box sent back to it.
struct RemoteResult
{
    enum class Kind {
        Done,      // the step went out whole
        Table,     // a whole table came (in the session's grid)
        Reply,     // a reply frame came: replyCode
        Silent,    // nothing came within the session's silence limit
        CutShort,  // part of an answer came, then nothing within the limit
        LineError, // the port failed: message
        NotSent,   // the line did not take a frame, or a number was refused
        Stopped,   // the session's stop flag was raised
    };
    Kind kind = Kind::Done;
    ReceivedTable table;
    int replyCode = 0;
    int bytesReceived = 0; // of an answer cut short
    QString message;       // for the operator, in Italian; empty for Done, Table, Reply, Stopped

    bool ok() const { return kind == Kind::Done; }
};

// Waits on the calling thread, running its events, for what the box sends
// next after a step left the port open: a whole table, a reply frame, or
// none within the session's silence limit; a failing port or the session's
// stop flag end the wait too. `progress` hears the bytes of a table as they
// come. The session's port must call BoxSession::receive.
RemoteResult awaitAnswer(BoxSession& session, const std::function<void(int tableBytes)>& progress = {});

// One remote session through the dialling unit, step by step, on the
// calling thread and without exceptions from the line: "Chiama", the steps
// in between, and "Sconnetti", which goes out whenever anything may have
// gone out on the line, whatever happened in between (a stop included).
// What the session's pacer throws (the tool's stop) passes through; the
// call is then still hung up when this object goes.
class RemoteCall
{
public:
    explicit RemoteCall(BoxSession& session);
    ~RemoteCall();
    RemoteCall(const RemoteCall&) = delete;
    RemoteCall& operator=(const RemoteCall&) = delete;

    // "Chiama": Done, NotSent (a refused number, a frame the line did not
    // take), LineError (the port did not open) or Stopped.
    RemoteResult dial(const QString& surname, const QString& prefix, const QString& number);
    // "Leggi Dati" and the box's answer: Table, Reply, Silent, CutShort,
    // LineError, NotSent or Stopped.
    RemoteResult readTable(const std::function<void(int tableBytes)>& progress = {});
    // "Sconnetti", the port first closed whatever a step left open: Done,
    // NotSent or LineError. Nothing is sent when nothing went out since the
    // dial; a second call does nothing.
    RemoteResult hangUp();
    // Whether the line may have carried anything of this call.
    bool dialled() const { return dialled_; }

private:
    BoxSession& session_;
    bool dialled_ = false;
    bool hungUp_ = false;
};

// A whole remote read: "Chiama", "Leggi Dati", "Sconnetti". The box's
// table, when one came, is in the session's grid.
struct RemoteRead
{
    RemoteResult answer; // the dial's failure, or what "Leggi Dati" brought
    RemoteResult hangUp; // Done also when nothing needed hanging up
    bool dialled = false;
};
RemoteRead readCalledBox(BoxSession& session, const QString& surname, const QString& prefix, const QString& number);

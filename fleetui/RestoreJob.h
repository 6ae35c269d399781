#pragma once

#include "device/Exchange.h"
#include "device/TableGrid.h"
#include "device/WritePlan.h"
#include "session/StopFlag.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QThread>

class BoxSession;
class Pacer;
class RemoteCall;

// A stored table put back into a customer's box through the dialling unit,
// on a thread of its own with its own port and session, so the window stays
// responsive while the line is worked: "Chiama", the write and the box told
// to keep it as the address book's "Scrivi Dati" does (the same session,
// backups and line log), the box read back with "Leggi Dati" and compared
// byte by byte with what was sent, and "Sconnetti" after anything went out,
// whatever happened.
namespace fleetui {

struct RestoreRequest
{
    QString port;
    QString prefix;
    QString surname;
    QString number;
    TableGrid table;
    int silenceMs = 10000;
    // The waits of the transfer, used on the job's thread only; null for
    // real waits, which stop() cuts short.
    Pacer* pacer = nullptr;
};

struct RestoreResult
{
    enum class Step {
        NotDialled,   // the port would not open, or the number was refused: nothing went out
        CallFailed,   // the call did not go out whole
        WriteFailed,  // the table was refused or cut short: the box was not told to keep it
        NoReply,      // the box did not confirm the table
        ErrorReply,   // the box answered "ERRORE!!" (02 03 08)
        ReadBackFailed, // the table was confirmed, but could not be read back
        Verified,     // read back, every byte sent is in the box
        Mismatch,     // read back, the box holds something else
    };
    Step step = Step::NotDialled;
    QString message;          // what happened, in Italian
    ReceivedTable readBack;   // for Verified and Mismatch
    TableGrid readBackGrid;   // the same, as a grid
    QStringList mismatches;   // for Mismatch: as `write --verify` names them
    bool hungUp = true;       // false when "Sconnetti" did not go out after the call
    QDateTime started;        // UTC
    QDateTime ended;

    bool readBackDone() const { return step == Step::Verified || step == Step::Mismatch; }
};

class RestoreJob : public QThread
{
    Q_OBJECT

public:
    explicit RestoreJob(RestoreRequest request, QObject* parent = nullptr);
    ~RestoreJob() override;

    // Valid once finished() has been emitted.
    const RestoreResult& result() const { return result_; }

    // Ends the job at its next wait: the call is still hung up.
    void stop();

signals:
    // A step's name for the window's status line (emitted on the job's thread).
    void status(const QString& text);

protected:
    void run() override;

private:
    void steps(BoxSession& session, RemoteCall& call);

    RestoreRequest request_;
    RestoreResult result_;
    StopFlag stop_;
};

// The bytes of the header and the records a plan sends, in the box's image
// order: what the box must hold after the write.
QByteArray sentImage(const writeplan::Plan& plan);

} // namespace fleetui

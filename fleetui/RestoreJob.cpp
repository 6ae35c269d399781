#include "fleetui/RestoreJob.h"

#include "device/Frames.h"
#include "device/LineLog.h"
#include "device/Pacer.h"
#include "serial/CommInt.h"
#include "session/BoxSession.h"
#include "session/RemoteCall.h"
#include "tool/TableDiff.h"

#include <optional>

namespace fleetui {

QByteArray sentImage(const writeplan::Plan& plan)
{
    QByteArray bytes;
    for (size_t i = 1; i < plan.pieces.size(); ++i)
        bytes += plan.pieces[i].bytes;
    return bytes;
}

RestoreJob::RestoreJob(RestoreRequest request, QObject* parent)
    : QThread(parent)
    , request_(std::move(request))
{
}

RestoreJob::~RestoreJob()
{
    stop();
    wait();
}

void RestoreJob::stop()
{
    stop_.request();
}

void RestoreJob::run()
{
    result_ = RestoreResult{};
    result_.started = QDateTime::currentDateTimeUtc();
    {
        // The port, the session and the log live on this thread; the port's
        // hand-overs come here.
        TComm port;
        TableGrid grid;
        grid.fillData(QStringLiteral("-"));
        StopPacer realWaits(stop_);
        RealClock clock;
        BoxSession session(port, grid, request_.pacer ? *request_.pacer : static_cast<Pacer&>(realWaits), clock);
        setBoxLineSettings(port);
        port.OnRxChar = [&session](TCustomComm&, int count) { session.receive(count); };
        session.exchange().setPortName(request_.port);
        session.setSilenceLimit(request_.silenceMs);
        session.setStopFlag(&stop_);
        LineLog log;
        session.setObserver(&log);
        QObject::connect(&session, &BoxSession::status, &session, [this](const QString& text) {
            if (!text.isEmpty())
                emit status(text);
        });
        {
            RemoteCall call(session);
            steps(session, call);
            const RemoteResult hungUp = call.hangUp();
            if (!hungUp.ok()) {
                result_.hungUp = false;
                result_.message += QLatin1Char(' ') + hungUp.message;
            }
        }
        port.OnRxChar = nullptr;
        session.exchange().close();
        session.setObserver(nullptr);
        log.flush();
    }
    result_.ended = QDateTime::currentDateTimeUtc();
}

void RestoreJob::steps(BoxSession& session, RemoteCall& call)
{
    using Step = RestoreResult::Step;
    RestoreResult& result = result_;
    const QString stopped = QStringLiteral("Ripristino fermato: la chiamata è stata chiusa.");
    const RemoteResult dialled = call.dial(request_.surname, request_.prefix, request_.number);
    if (!call.dialled()) {
        result.message = dialled.message;
        return;
    }
    result.step = Step::CallFailed;
    if (!dialled.ok()) {
        result.message = dialled.kind == RemoteResult::Kind::Stopped ? stopped : dialled.message;
        return;
    }

    result.step = Step::WriteFailed;
    QByteArray sent;
    QObject::connect(&session, &BoxSession::writeStarting, &session, [&sent](const writeplan::Plan& plan) { sent = sentImage(plan); });
    BoxSession::RemoteWrite written;
    try {
        written = session.writeRemote(request_.table, writeplan::EditorState{ 1, QString(), QString() });
    } catch (const ECommError& error) {
        result.message = BoxSession::serialErrorText(error);
        return;
    }
    if (session.stopped()) {
        result.message = stopped;
        return;
    }
    if (!written.confirmationSent) {
        result.message = written.table.sent() ? QStringLiteral("La conferma 02 01 06 non è partita: la linea non l'ha presa in tempo.")
                                              : written.table.message;
        return;
    }

    result.step = Step::NoReply;
    const RemoteResult reply = awaitAnswer(session);
    if (reply.kind != RemoteResult::Kind::Reply) {
        result.message = reply.kind == RemoteResult::Kind::Table ? QStringLiteral("La centralina ha mandato una tabella invece della risposta.")
                         : reply.kind == RemoteResult::Kind::Stopped ? stopped
                                                                     : reply.message;
        return;
    }
    if (reply.replyCode == frames::ReplyError) {
        result.step = Step::ErrorReply;
        result.message = QStringLiteral("ERRORE!! La centralina ha risposto 02 03 08: non ha preso la tabella.");
        return;
    }
    if (reply.replyCode != frames::ReplyReceived) {
        result.message = QStringLiteral("La centralina ha risposto 02 03 %1, che non conferma la tabella.")
                             .arg(reply.replyCode, 2, 16, QLatin1Char('0'));
        return;
    }

    // Read back within the same call, as `write --verify` reads the box after writing it.
    result.step = Step::ReadBackFailed;
    const RemoteResult back = call.readTable();
    if (back.kind != RemoteResult::Kind::Table) {
        const QString why = back.kind == RemoteResult::Kind::Reply
                                ? QStringLiteral("la centralina ha risposto 02 03 %1.").arg(back.replyCode, 2, 16, QLatin1Char('0'))
                                : back.kind == RemoteResult::Kind::Stopped ? stopped : back.message;
        result.message = QStringLiteral("La tabella è stata confermata, ma non si è potuta rileggere: %1").arg(why);
        return;
    }
    result.readBack = back.table;
    result.readBackGrid.copyDataFrom(session.grid());
    result.mismatches = tool::storedDifferences(sent, back.table.image);
    result.step = result.mismatches.isEmpty() ? Step::Verified : Step::Mismatch;
    result.message = result.mismatches.isEmpty()
                         ? QStringLiteral("Ripristino verificato: la centralina contiene la tabella scritta.")
                         : QStringLiteral("La centralina riletta non contiene la tabella scritta: %1.")
                               .arg(result.mismatches.size() == 1 ? QStringLiteral("1 differenza")
                                                                  : QStringLiteral("%1 differenze").arg(result.mismatches.size()));
}

} // namespace fleetui

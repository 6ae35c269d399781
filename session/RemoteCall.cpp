#include "session/RemoteCall.h"

#include "device/Codec.h"
#include "serial/CommInt.h"
#include "session/BoxSession.h"
#include "session/StopFlag.h"

#include <QEventLoop>

#include <optional>

namespace {

RemoteResult result(RemoteResult::Kind kind, const QString& message = QString())
{
    RemoteResult r;
    r.kind = kind;
    r.message = message;
    return r;
}

// The box's silence as the operator reads it.
RemoteResult silence(const BoxSession& session, int bytesReceived)
{
    const QString port = session.exchange().portName();
    const int seconds = session.silenceLimit() / 1000;
    if (bytesReceived == 0)
        return result(RemoteResult::Kind::Silent,
                      QStringLiteral("nessuna risposta sulla porta \"%1\" in %2 secondi.").arg(port).arg(seconds));
    RemoteResult r = result(RemoteResult::Kind::CutShort,
                            QStringLiteral("la risposta sulla porta \"%1\" si è interrotta: %2 byte ricevuti, poi niente per %3 secondi.")
                                .arg(port)
                                .arg(bytesReceived)
                                .arg(seconds));
    r.bytesReceived = bytesReceived;
    return r;
}

} // namespace

RemoteResult awaitAnswer(BoxSession& session, const std::function<void(int tableBytes)>& progress)
{
    Exchange& exchange = session.exchange();
    if (session.stopped())
        return result(RemoteResult::Kind::Stopped);
    if (!session.lineFailure().isEmpty())
        return result(RemoteResult::Kind::LineError, session.lineFailure());

    QEventLoop loop;
    QObject scope; // the connections end with this wait
    std::optional<RemoteResult> answer;
    int tableBytes = 0;
    QObject::connect(&exchange, &Exchange::progress, &scope, [&](int bytes) {
        tableBytes += bytes;
        if (progress)
            progress(tableBytes);
    });
    QObject::connect(&session, &BoxSession::tableRead, &scope, [&](const ReceivedTable& table) {
        RemoteResult r = result(RemoteResult::Kind::Table);
        r.table = table;
        answer = r;
        loop.quit();
    });
    QObject::connect(&exchange, &Exchange::replyReceived, &scope, [&](int code) {
        RemoteResult r = result(RemoteResult::Kind::Reply);
        r.replyCode = code;
        answer = r;
        loop.quit();
    });
    QObject::connect(&session, &BoxSession::answerMissing, &scope, [&](int position) {
        answer = silence(session, position);
        loop.quit();
    });
    QObject::connect(&session, &BoxSession::lineFailed, &scope, [&](const QString& message) {
        answer = result(RemoteResult::Kind::LineError, message);
        loop.quit();
    });

    // Only a session with a stop flag can be stopped here; one without it
    // (a window's) waits for the answer or the silence limit.
    StopFlag* stop = session.stopFlag();
    if (stop)
        stop->watch(&loop);
    loop.exec();
    if (stop)
        stop->unwatch(&loop);
    if (answer)
        return *answer;
    // Stopped while waiting: as "Stop" leaves it, the port closed, the link idle.
    exchange.restartReceive();
    exchange.finish();
    return result(RemoteResult::Kind::Stopped);
}

RemoteCall::RemoteCall(BoxSession& session)
    : session_(session)
{
}

RemoteCall::~RemoteCall()
{
    hangUp();
}

RemoteResult RemoteCall::dial(const QString& surname, const QString& prefix, const QString& number)
{
    QString refused;
    const QMetaObject::Connection refusal
        = QObject::connect(&session_, &BoxSession::stepRefused, [&refused](const QString& why) { refused = why; });
    struct Disconnect
    {
        const QMetaObject::Connection& connection;
        ~Disconnect() { QObject::disconnect(connection); }
    } disconnect{ refusal };

    bool sent = false;
    try {
        sent = session_.call(surname, prefix, number);
    } catch (const ECommError& error) {
        // A port that did not open carried nothing; one that failed later may have.
        dialled_ = session_.exchange().port().Enabled();
        return result(RemoteResult::Kind::LineError, BoxSession::serialErrorText(error));
    } catch (...) {
        dialled_ = true;
        throw;
    }
    if (!refused.isEmpty())
        return result(RemoteResult::Kind::NotSent, refused);
    dialled_ = true;
    if (session_.stopped())
        return result(RemoteResult::Kind::Stopped);
    if (!sent)
        return result(RemoteResult::Kind::NotSent,
                      QStringLiteral("la chiamata al numero %1 non è partita: la linea non ha preso il numero in tempo.").arg(number));
    return result(RemoteResult::Kind::Done);
}

RemoteResult RemoteCall::readTable(const std::function<void(int tableBytes)>& progress)
{
    bool sent = false;
    try {
        sent = session_.readRemote();
    } catch (const ECommError& error) {
        return result(RemoteResult::Kind::LineError, BoxSession::serialErrorText(error));
    }
    if (session_.stopped())
        return result(RemoteResult::Kind::Stopped);
    if (!sent)
        return result(RemoteResult::Kind::NotSent,
                      QStringLiteral("la richiesta di lettura (02 01 05) non è partita: la linea non l'ha presa in tempo."));
    return awaitAnswer(session_, progress);
}

RemoteResult RemoteCall::hangUp()
{
    if (!dialled_ || hungUp_)
        return result(RemoteResult::Kind::Done);
    hungUp_ = true;
    // A step that failed, or was stopped, may have left the port open.
    session_.exchange().close();
    try {
        if (session_.hangUp())
            return result(RemoteResult::Kind::Done);
    } catch (const ECommError& error) {
        return result(RemoteResult::Kind::LineError, BoxSession::serialErrorText(error));
    }
    return result(RemoteResult::Kind::NotSent, QStringLiteral("la linea non ha preso la chiusura della chiamata (02 03 03 02 02): "
                                                              "la chiamata può essere ancora in corso."));
}

RemoteRead readCalledBox(BoxSession& session, const QString& surname, const QString& prefix, const QString& number)
{
    RemoteRead read;
    RemoteCall call(session);
    read.answer = call.dial(surname, prefix, number);
    if (read.answer.ok())
        read.answer = call.readTable();
    read.dialled = call.dialled();
    read.hangUp = call.hangUp();
    return read;
}

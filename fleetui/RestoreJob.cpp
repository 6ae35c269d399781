#include "fleetui/RestoreJob.h"

#include "device/Codec.h"
#include "device/Frames.h"
#include "device/LineLog.h"
#include "device/Pacer.h"
#include "serial/CommInt.h"
#include "session/BoxSession.h"
#include "tool/TableDiff.h"

#include <QEventLoop>

#include <chrono>
#include <optional>

namespace fleetui {

namespace {

// The job was stopped in a wait: it unwinds to the hang-up.
struct Stopped
{
};

} // namespace

QByteArray sentImage(const writeplan::Plan& plan)
{
    QByteArray bytes;
    for (size_t i = 1; i < plan.pieces.size(); ++i)
        bytes += plan.pieces[i].bytes;
    return bytes;
}

// The job's line: its port, grid, session and log, all living on the job's
// thread, and the waits for the box's answers there.
class RestoreLine : public Pacer
{
public:
    explicit RestoreLine(RestoreJob& job)
        : job_(job)
        , session_(port_, grid_, *this, clock_)
    {
        setBoxLineSettings(port_);
        grid_.fillData(QStringLiteral("-"));
        // A line that fails while the table comes in closes the port; the
        // wait below hears of it here, never the window's error box.
        port_.OnRxChar = [this](TCustomComm&, int count) {
            try {
                session_.exchange().receive(count);
            } catch (const ECommError& error) {
                lineError_ = QStringLiteral("Serial error: ") + error.Message().trimmed();
                quitWait();
            }
        };
        session_.exchange().setPortName(job.request_.port);
        session_.setSilenceLimit(job.request_.silenceMs);
        session_.setObserver(&log_);
        QObject::connect(&session_, &BoxSession::status, &session_, [this](const QString& text) {
            if (!text.isEmpty())
                emit job_.status(text);
        });
        QObject::connect(&session_, &BoxSession::stepRefused, &session_, [this](const QString& why) { refused_ = why; });
        QObject::connect(&session_, &BoxSession::writeStarting, &session_,
                         [this](const writeplan::Plan& plan) { sent_ = sentImage(plan); });
    }

    ~RestoreLine() override
    {
        port_.OnRxChar = nullptr;
        session_.exchange().close();
        session_.setObserver(nullptr);
        log_.flush();
    }

    // A wait of the transfer, cut short by stop() only while the job may
    // still give up (never in the middle of the hang-up).
    void sleep(int ms) override
    {
        if (Pacer* pacer = job_.request_.pacer) {
            pacer->sleep(ms);
            if (stoppable_ && job_.stopping_)
                throw Stopped{};
            return;
        }
        std::unique_lock<std::mutex> lock(job_.mutex_);
        job_.wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stoppable_ && job_.stopping_.load(); });
        if (stoppable_ && job_.stopping_)
            throw Stopped{};
    }

    void work(RestoreResult& result)
    {
        const RestoreRequest& request = job_.request_;
        try {
            steps(request, result);
        } catch (const Stopped&) {
            result.message = QStringLiteral("Ripristino fermato: la chiamata è stata chiusa.");
        } catch (const ECommError& error) {
            result.message = QStringLiteral("Serial error: ") + error.Message().trimmed();
        }
        if (result.step != RestoreResult::Step::NotDialled)
            hangUp(result);
    }

private:
    struct Answer
    {
        std::optional<ReceivedTable> table;
        std::optional<int> reply;
        QString problem; // no answer, or the line failed
    };

    void steps(const RestoreRequest& request, RestoreResult& result)
    {
        stoppable_ = true;
        const bool called = session_.call(request.surname, request.prefix, request.number);
        if (!called && !refused_.isEmpty()) {
            result.message = refused_;
            return;
        }
        result.step = RestoreResult::Step::CallFailed;
        if (!called) {
            result.message = QStringLiteral("La chiamata al numero %1 non è partita: la linea non ha preso il numero in tempo.")
                                 .arg(request.number);
            return;
        }
        result.step = RestoreResult::Step::WriteFailed;
        const BoxSession::RemoteWrite written = session_.writeRemote(request.table, writeplan::EditorState{ 1, QString(), QString() });
        if (!written.confirmationSent) {
            result.message = written.table.sent()
                                 ? QStringLiteral("La conferma 02 01 06 non è partita: la linea non l'ha presa in tempo.")
                                 : written.table.message;
            return;
        }
        result.step = RestoreResult::Step::NoReply;
        const Answer reply = await();
        if (!reply.reply) {
            result.message = reply.table ? QStringLiteral("La centralina ha mandato una tabella invece della risposta.")
                                         : reply.problem;
            return;
        }
        if (*reply.reply == frames::ReplyError) {
            result.step = RestoreResult::Step::ErrorReply;
            result.message = QStringLiteral("ERRORE!! La centralina ha risposto 02 03 08: non ha preso la tabella.");
            return;
        }
        if (*reply.reply != frames::ReplyReceived) {
            result.message = QStringLiteral("La centralina ha risposto 02 03 %1, che non conferma la tabella.")
                                 .arg(*reply.reply, 2, 16, QLatin1Char('0'));
            return;
        }
        result.step = RestoreResult::Step::ReadBackFailed;
        if (!session_.readRemote()) {
            result.message = QStringLiteral("La tabella è stata confermata, ma la richiesta di rilettura (02 01 05) non è partita.");
            return;
        }
        const Answer back = await();
        if (!back.table) {
            result.message = QStringLiteral("La tabella è stata confermata, ma non si è potuta rileggere: %1")
                                 .arg(back.reply ? QStringLiteral("la centralina ha risposto 02 03 %1.").arg(*back.reply, 2, 16, QLatin1Char('0'))
                                                 : back.problem);
            return;
        }
        result.readBack = *back.table;
        result.readBackGrid.copyDataFrom(session_.grid());
        result.mismatches = tool::storedDifferences(sent_, back.table->image);
        result.step = result.mismatches.isEmpty() ? RestoreResult::Step::Verified : RestoreResult::Step::Mismatch;
        result.message = result.mismatches.isEmpty()
                             ? QStringLiteral("Ripristino verificato: la centralina contiene la tabella scritta.")
                             : QStringLiteral("La centralina riletta non contiene la tabella scritta: %1.")
                                   .arg(result.mismatches.size() == 1 ? QStringLiteral("1 differenza")
                                                                      : QStringLiteral("%1 differenze").arg(result.mismatches.size()));
    }

    Answer await()
    {
        Exchange& exchange = session_.exchange();
        QEventLoop loop;
        QObject scope;
        Answer answer;
        QObject::connect(&session_, &BoxSession::tableRead, &scope, [&](const ReceivedTable& table) {
            answer.table = table;
            loop.quit();
        });
        QObject::connect(&exchange, &Exchange::replyReceived, &scope, [&](int code) {
            answer.reply = code;
            loop.quit();
        });
        QObject::connect(&session_, &BoxSession::answerMissing, &scope, [&](int bytes) {
            const int seconds = job_.request_.silenceMs / 1000;
            answer.problem = bytes == 0 ? QStringLiteral("nessuna risposta in %1 secondi.").arg(seconds)
                                        : QStringLiteral("la risposta si è interrotta: %1 byte ricevuti, poi niente per %2 secondi.")
                                              .arg(bytes)
                                              .arg(seconds);
            loop.quit();
        });
        {
            std::lock_guard<std::mutex> lock(job_.mutex_);
            job_.waiting_ = &loop;
        }
        if (lineError_.isEmpty() && !job_.stopping_)
            loop.exec();
        {
            std::lock_guard<std::mutex> lock(job_.mutex_);
            job_.waiting_ = nullptr;
        }
        if (answer.table || answer.reply)
            return answer;
        // As "Stop" ends a wait: the port closed, the link idle.
        exchange.restartReceive();
        exchange.finish();
        if (job_.stopping_)
            throw Stopped{};
        if (!lineError_.isEmpty())
            answer.problem = lineError_;
        return answer;
    }

    void quitWait()
    {
        std::lock_guard<std::mutex> lock(job_.mutex_);
        if (job_.waiting_)
            QMetaObject::invokeMethod(job_.waiting_, "quit", Qt::QueuedConnection);
    }

    void hangUp(RestoreResult& result)
    {
        stoppable_ = false;
        try {
            // A step that failed or was stopped may have left the port open.
            session_.exchange().close();
            result.hungUp = session_.hangUp();
        } catch (const ECommError&) {
            result.hungUp = false;
        }
        if (!result.hungUp)
            result.message += QStringLiteral(" La linea non ha preso la chiusura della chiamata (02 03 03 02 02): "
                                             "la chiamata può essere ancora in corso.");
    }

    RestoreJob& job_;
    TComm port_;
    TableGrid grid_;
    RealClock clock_;
    BoxSession session_;
    LineLog log_;
    QByteArray sent_;
    QString refused_;
    QString lineError_;
    bool stoppable_ = false;
};

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
    stopping_ = true;
    std::lock_guard<std::mutex> lock(mutex_);
    wake_.notify_all();
    if (waiting_)
        QMetaObject::invokeMethod(waiting_, "quit", Qt::QueuedConnection);
}

void RestoreJob::run()
{
    result_ = RestoreResult{};
    result_.started = QDateTime::currentDateTimeUtc();
    {
        RestoreLine line(*this);
        line.work(result_);
    }
    result_.ended = QDateTime::currentDateTimeUtc();
}

} // namespace fleetui

#include "fleet/AuditRun.h"

#include "device/Exchange.h"
#include "device/Frames.h"
#include "device/Pacer.h"
#include "device/TableGrid.h"
#include "fleet/AuditCompare.h"
#include "serial/CommInt.h"
#include "session/BoxSession.h"
#include "session/RemoteCall.h"
#include "session/StopFlag.h"

#include <QThread>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace fleet {

// What the workers share: the queue of items still to call, the time limit
// and the stop.
struct AuditRun::Shared
{
    std::mutex guard;
    std::condition_variable changed;
    std::deque<int> queue;
    bool closed = false;
    QDateTime until;
    bool untilReached = false;
    StopFlag stop;

    // The next item to call, waiting while the queue is empty and open;
    // none once it is closed, stopped or past the time limit.
    std::optional<int> take()
    {
        std::unique_lock<std::mutex> lock(guard);
        for (;;) {
            if (closed || stop.requested())
                return std::nullopt;
            if (!until.isNull() && QDateTime::currentDateTimeUtc() >= until) {
                untilReached = true;
                return std::nullopt;
            }
            if (!queue.empty()) {
                const int index = queue.front();
                queue.pop_front();
                return index;
            }
            if (until.isNull()) {
                changed.wait(lock);
            } else {
                const qint64 ms = QDateTime::currentDateTimeUtc().msecsTo(until);
                changed.wait_for(lock, std::chrono::milliseconds(std::max<qint64>(ms, 0) + 1));
            }
        }
    }

    void put(const std::vector<int>& items, bool front = false)
    {
        {
            const std::lock_guard<std::mutex> lock(guard);
            for (int index : items) {
                if (front)
                    queue.push_front(index);
                else
                    queue.push_back(index);
            }
        }
        changed.notify_all();
    }

    void close()
    {
        {
            const std::lock_guard<std::mutex> lock(guard);
            closed = true;
        }
        changed.notify_all();
    }

    bool reachedUntil()
    {
        const std::lock_guard<std::mutex> lock(guard);
        return untilReached || (!until.isNull() && QDateTime::currentDateTimeUtc() >= until);
    }
};

namespace {

// What one session found, judged: the run's outcome words.
void judgeRead(const RemoteRead& read, const AuditItem& item, const TableGrid& grid, SessionResult& result)
{
    const RemoteResult& answer = read.answer;
    switch (answer.kind) {
    case RemoteResult::Kind::Table: {
        const Judgement judgement = judge(item.card, grid);
        result.outcome = judgement.outcome;
        result.differences = judgement.differences;
        result.table = versionBytes(grid);
        result.clockText = answer.table.clockText;
        result.deviceText = answer.table.deviceText;
        break;
    }
    case RemoteResult::Kind::Reply:
        result.outcome = Outcome::Refused;
        result.detail = answer.replyCode == frames::ReplyError
            ? QStringLiteral("la centralina ha risposto 02 03 08 (ERRORE!!) invece di mandare la tabella.")
            : QStringLiteral("la centralina ha risposto 02 03 %1 invece di mandare la tabella.")
                  .arg(answer.replyCode, 2, 16, QLatin1Char('0'));
        break;
    case RemoteResult::Kind::Done:
    case RemoteResult::Kind::Stopped:
    case RemoteResult::Kind::Silent:
    case RemoteResult::Kind::CutShort:
    case RemoteResult::Kind::LineError:
    case RemoteResult::Kind::NotSent:
        result.outcome = Outcome::Unreached;
        result.detail = answer.message;
        break;
    }
    if (!read.hangUp.ok())
        result.detail = (result.detail + QLatin1Char(' ') + read.hangUp.message).trimmed();
}

} // namespace

AuditRun::AuditRun(FleetStore& store, qint64 runId, AuditSettings settings, std::vector<AuditItem> items, QObject* parent)
    : QObject(parent)
    , store_(store)
    , runId_(runId)
    , settings_(std::move(settings))
    , items_(std::move(items))
    , shared_(std::make_shared<Shared>())
    , lastOf_(items_.size())
{
    shared_->until = settings_.until.toUTC();
    pause_.setSingleShot(true);
    connect(&pause_, &QTimer::timeout, this, &AuditRun::nextRound);
    claimAgain_.setSingleShot(true);
    connect(&claimAgain_, &QTimer::timeout, this, &AuditRun::claimMore);
}

AuditRun::~AuditRun()
{
    if (settings_.shared)
        store_.watchClaims({});
    shared_->stop.request();
    shared_->close();
    for (QThread* worker : workers_) {
        worker->wait();
        delete worker;
    }
}

void AuditRun::start()
{
    std::vector<int> first;
    for (size_t i = 0; i < items_.size(); ++i)
        if (!items_[i].customer.number.isEmpty())
            first.push_back(int(i));
    callable_ = int(first.size());
    roundSize_ = callable_;
    if (!settings_.shared)
        shared_->put(first);
    if (first.empty() || settings_.ports.isEmpty()) {
        shared_->close();
        QMetaObject::invokeMethod(this, &AuditRun::finish, Qt::QueuedConnection);
        return;
    }
    for (const QString& port : settings_.ports) {
        std::shared_ptr<Shared> shared = shared_;
        const AuditSettings& settings = settings_;
        const std::vector<AuditItem>& items = items_;
        AuditRun* owner = this;
        QThread* worker = QThread::create([shared, &settings, &items, owner, port] {
            TComm comm;
            TableGrid grid;
            StopPacer pacer(shared->stop, settings.paceScale);
            RealClock clock;
            BoxSession session(comm, grid, pacer, clock);
            setBoxLineSettings(comm);
            comm.OnRxChar = [&session](TCustomComm&, int count) { session.receive(count); };
            session.exchange().setPortName(port);
            session.setSilenceLimit(settings.silenceMs);
            session.setStopFlag(&shared->stop);
            session.setKeepBackups(false);
            while (const std::optional<int> index = shared->take()) {
                const AuditItem& item = items[size_t(*index)];
                SessionResult result;
                result.customer = item.customer;
                result.port = port;
                result.host = settings.host;
                result.started = QDateTime::currentDateTimeUtc();
                grid.fillData(QStringLiteral("-"));
                const RemoteRead read = readCalledBox(session, item.customer.surname, settings.prefix, item.customer.number);
                result.ended = QDateTime::currentDateTimeUtc();
                // A session stopped half-way is not finished: a resumed run calls again.
                if (read.answer.kind == RemoteResult::Kind::Stopped)
                    break;
                // A port that does not open reached nobody: the customer goes
                // back for another port, and this one makes no more calls.
                if (read.answer.kind == RemoteResult::Kind::LineError && !read.dialled) {
                    shared->put({ *index }, true);
                    const QString message = read.answer.message;
                    QMetaObject::invokeMethod(owner, [owner, port, message] { emit owner->portFailed(port, message); },
                                              Qt::QueuedConnection);
                    break;
                }
                judgeRead(read, item, grid, result);
                const int at = *index;
                QMetaObject::invokeMethod(owner, [owner, at, result] { owner->record(at, result); }, Qt::QueuedConnection);
            }
            comm.OnRxChar = nullptr;
            session.exchange().close();
            QMetaObject::invokeMethod(owner, &AuditRun::workerEnded, Qt::QueuedConnection);
        });
        workers_.push_back(worker);
    }
    running_ = int(workers_.size());
    for (QThread* worker : workers_)
        worker->start();
    if (settings_.shared) {
        // Waiting for customers the others hold, this runner looks again as
        // soon as one of them records or gives one back.
        store_.watchClaims([this] {
            if (claimAgain_.isActive()) {
                claimAgain_.stop();
                claimMore();
            }
        });
        claimMore();
    }
}

// A shared run: one customer claimed for each worker still calling, as long
// as the store has any to give; none now, while others hold the rest or a
// non raggiunta waits for its next round: asked again a little later; none
// left at all: the run is complete.
void AuditRun::claimMore()
{
    if (stopping_ || storeFailed_ || complete_)
        return;
    try {
        while (int(claims_.size()) < running_) {
            const std::optional<Claim> claim
                = store_.claimNext(runId_, settings_.rounds, std::max(1, int(settings_.leaseMs * settings_.paceScale)));
            if (!claim)
                break;
            if (claim->position < 0 || claim->position >= int(items_.size())) {
                failRun(QStringLiteral("il controllo %1 nell'archivio non corrisponde alla rubrica").arg(runId_), true);
                return;
            }
            claims_[claim->position] = *claim;
            shared_->put({ claim->position });
        }
        if (claims_.empty() && store_.runComplete(runId_, settings_.rounds)) {
            complete_ = true;
            shared_->close();
            return;
        }
    } catch (const StoreError& error) {
        failRun(error.message, true);
        return;
    }
    if (int(claims_.size()) < running_)
        claimAgain_.start(std::max(50, int(5000 * settings_.paceScale)));
}

void AuditRun::recordClaimed(int index, const SessionResult& session)
{
    const auto claim = claims_.find(index);
    if (claim == claims_.end())
        return;
    const Claim taken = claim->second;
    claims_.erase(claim);
    SessionResult result = session;
    result.round = taken.attempts;
    try {
        // A lease that ran out meanwhile: another runner called the customer
        // again, and its result is the one kept.
        if (store_.recordClaimed(runId_, taken, result, int(settings_.roundPauseMs * settings_.paceScale))) {
            lastOf_[size_t(index)] = result.outcome;
            emit sessionRecorded(result);
        }
    } catch (const StoreError& error) {
        failRun(error.message, true);
        return;
    }
    claimMore();
}

// Customers claimed but never called (a stop, the hour given with --until)
// go back to the others at once, not when the lease runs out.
void AuditRun::releaseClaims()
{
    for (const auto& [index, claim] : claims_) {
        try {
            store_.releaseClaim(runId_, claim);
        } catch (const StoreError&) {
            // The lease runs out all the same.
        }
    }
    claims_.clear();
}

void AuditRun::stop()
{
    stopping_ = true;
    pause_.stop();
    claimAgain_.stop();
    shared_->stop.request();
    shared_->close();
    if (running_ == 0 && !finished_)
        finish();
}

int AuditRun::done() const
{
    int n = 0;
    for (const std::optional<Outcome>& outcome : lastOf_)
        n += outcome ? 1 : 0;
    return n;
}

std::array<int, OutcomeCount> AuditRun::counts() const
{
    std::array<int, OutcomeCount> counts{};
    for (const std::optional<Outcome>& outcome : lastOf_)
        if (outcome)
            ++counts[size_t(*outcome)];
    return counts;
}

void AuditRun::record(int index, const SessionResult& session)
{
    if (storeFailed_)
        return;
    if (settings_.shared) {
        recordClaimed(index, session);
        return;
    }
    SessionResult result = session;
    result.round = round_;
    try {
        store_.recordSession(runId_, result);
    } catch (const StoreError& error) {
        failRun(error.message, true);
        return;
    }
    lastOf_[size_t(index)] = result.outcome;
    emit sessionRecorded(result);
    if (++roundDone_ == roundSize_)
        endRound();
}

void AuditRun::endRound()
{
    if (stopping_)
        return;
    std::vector<int> again;
    for (size_t i = 0; i < lastOf_.size(); ++i)
        if (lastOf_[i] == Outcome::Unreached)
            again.push_back(int(i));
    if (again.empty() || round_ >= settings_.rounds || shared_->reachedUntil()) {
        shared_->close();
        return;
    }
    pause_.start(int(settings_.roundPauseMs * settings_.paceScale));
}

void AuditRun::nextRound()
{
    std::vector<int> again;
    for (size_t i = 0; i < lastOf_.size(); ++i)
        if (lastOf_[i] == Outcome::Unreached)
            again.push_back(int(i));
    ++round_;
    roundSize_ = int(again.size());
    roundDone_ = 0;
    shared_->put(again);
}

void AuditRun::workerEnded()
{
    if (--running_ > 0)
        return;
    // Every port failed, or the time limit came: no one is left to call.
    shared_->close();
    pause_.stop();
    {
        const std::lock_guard<std::mutex> lock(shared_->guard);
        untilReached_ = shared_->untilReached && !stopping_;
    }
    const bool allDone = settings_.shared ? complete_ : done() >= callable_;
    if (!stopping_ && !storeFailed_ && !allDone && !untilReached_ && failure_.isEmpty())
        failure_ = QStringLiteral("nessuna porta utilizzabile: %1 clienti non chiamati.").arg(callable_ - done());
    finish();
}

void AuditRun::failRun(const QString& why, bool store)
{
    failure_ = why;
    storeFailed_ = store;
    stopping_ = true;
    pause_.stop();
    claimAgain_.stop();
    shared_->stop.request();
    shared_->close();
}

void AuditRun::finish()
{
    if (finished_)
        return;
    claimAgain_.stop();
    if (settings_.shared)
        store_.watchClaims({});
    if (!storeFailed_)
        releaseClaims();
    finished_ = true;
    emit finished();
}

} // namespace fleet

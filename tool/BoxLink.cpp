#include "tool/BoxLink.h"

#include "device/Frames.h"

#include "serial/PortList.h"
#include "tool/StopSignals.h"

#include <cstdio>

#include <signal.h>

#include <unistd.h>

namespace tool {

namespace {

constexpr int DefaultSilenceSeconds = 10;
constexpr int MaxSilenceSeconds = 3600;
// Far beyond any device path; a longer name was pasted by mistake.
constexpr int MaxPortNameLength = 255;

const QCommandLineOption PortOption(QStringLiteral("port"),
                                    QStringLiteral("la porta seriale, come nella casella \"Porta:\" della finestra "
                                                   "(Com2, ttyUSB0, /dev/ttyUSB0)"),
                                    QStringLiteral("P"));
const QCommandLineOption TimeoutOption(QStringLiteral("timeout"),
                                       QStringLiteral("secondi di silenzio della linea dopo i quali una risposta attesa "
                                                      "si considera mancata (predefinito %1)")
                                           .arg(DefaultSilenceSeconds),
                                       QStringLiteral("S"));
const QCommandLineOption TraceOption(QStringLiteral("trace"),
                                     QStringLiteral("scrive anche in FILE ogni byte scambiato sulla linea"),
                                     QStringLiteral("FILE"));

} // namespace

QString dialProblem(const QString& digits)
{
    if (digits.isEmpty())
        return QStringLiteral("è vuoto");
    if (digits.size() > frames::MaxDialDigits)
        return QStringLiteral("ha più di %1 cifre").arg(frames::MaxDialDigits);
    if (!frames::dial(digits))
        return QStringLiteral("contiene caratteri che non sono cifre");
    return QString();
}

void addLineOptions(CommandParser& parser, bool portOption)
{
    if (portOption)
        parser.addOption(PortOption);
    parser.addOption(TimeoutOption);
    parser.addOption(TraceOption);
}

QCommandLineOption portOption(const QString& description)
{
    return QCommandLineOption(QStringLiteral("port"), description, QStringLiteral("P"));
}

QCommandLineOption timeoutOption()
{
    return TimeoutOption;
}


int silenceMs(const CommandParser& parser)
{
    if (!parser.isSet(TimeoutOption.names().first()))
        return DefaultSilenceSeconds * 1000;
    return silenceMs(parser, parser.value(TimeoutOption.names().first()));
}

int silenceMs(const CommandParser& parser, const QString& text)
{
    bool ok = false;
    const int seconds = text.toInt(&ok);
    if (!ok || seconds < 1 || seconds > MaxSilenceSeconds)
        parser.usageError(QStringLiteral("--timeout vuole un numero di secondi da 1 a %1, non \"%2\".")
                              .arg(MaxSilenceSeconds)
                              .arg(text));
    return seconds * 1000;
}

QString checkedPortName(const QString& name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        fail(UsageError, QStringLiteral("il nome della porta è vuoto."));
    if (trimmed.size() > MaxPortNameLength)
        fail(UsageError, QStringLiteral("il nome della porta è troppo lungo (più di %1 caratteri).").arg(MaxPortNameLength));
    for (const QChar c : trimmed)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            fail(UsageError, QStringLiteral("il nome della porta contiene caratteri di controllo."));
    return trimmed;
}

LineOptions lineOptions(const CommandParser& parser)
{
    LineOptions options;
    options.quiet = parser.quiet();
    options.action = QStringLiteral("pradix-tool %1 %2").arg(parser.invocation().path, parser.invocation().arguments.join(QLatin1Char(' '))).trimmed();
    if (parser.isSet(PortOption.names().first()))
        options.port = checkedPortName(parser.value(PortOption.names().first()));
    options.silenceMs = silenceMs(parser);
    if (parser.isSet(TraceOption.names().first())) {
        options.trace = parser.value(TraceOption.names().first());
        if (options.trace.isEmpty())
            parser.usageError(QStringLiteral("--trace vuole il nome di un file."));
    }
    return options;
}

// ---- Progress

Progress::Progress(bool quiet)
    : enabled_(!quiet && ::isatty(STDERR_FILENO) == 1)
{
}

void Progress::show(const QString& label, int percent)
{
    if (!enabled_)
        return;
    const QString text = percent < 0 ? label : QStringLiteral("%1: %2%").arg(label).arg(percent);
    if (text == shown_)
        return;
    shown_ = text;
    // Back to the start of the line, the new text, the rest of the old one erased.
    const QByteArray bytes = (QStringLiteral("\r") + text + QStringLiteral("\x1b[K")).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void Progress::end()
{
    if (!enabled_ || shown_.isEmpty())
        return;
    shown_.clear();
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

// ---- LineTap

void LineTap::action(const QString& what)
{
    for (LineObserver* o : observers_)
        o->action(what);
}

void LineTap::openFailed(const QString& deviceName, const QString& message)
{
    for (LineObserver* o : observers_)
        o->openFailed(deviceName, message);
}

void LineTap::opened(const QString& deviceName)
{
    for (LineObserver* o : observers_)
        o->opened(deviceName);
}

void LineTap::closed()
{
    for (LineObserver* o : observers_)
        o->closed();
}

void LineTap::written(const std::uint8_t* bytes, int count, int result)
{
    ++writes_;
    for (LineObserver* o : observers_)
        o->written(bytes, count, result);
}

void LineTap::read(const std::uint8_t* bytes, int count)
{
    for (LineObserver* o : observers_)
        o->read(bytes, count);
}

// ---- stopping

void stopIfSignalled()
{
    const int signal = StopSignals::received();
    if (signal == 0)
        return;
    throw Failure{ ExitCode(StoppedBySignal + signal),
                   QStringLiteral("interrotto da %1.").arg(signal == SIGINT ? QStringLiteral("Ctrl+C (SIGINT)")
                                                                            : QStringLiteral("SIGTERM")) };
}

void SignalPacer::sleep(int ms)
{
    if (StopSignals::wait(int(ms * scale_)))
        stopIfSignalled();
}

// ---- BoxLink

BoxLink::BoxLink(const LineOptions& options)
    : options_(options)
    , progress_(options.quiet)
    , session_(port_, grid_, pacer_, clock_)
{
    setBoxLineSettings(port_);
    grid_.fillData(QStringLiteral("-"));
    // A port that fails while an answer arrives (a line that hung up) is
    // closed by the session, and the wait for the answer hears of it.
    port_.OnRxChar = [this](TCustomComm&, int count) { session_.receive(count); };
    session_.exchange().setPortName(options_.port);
    session_.setSilenceLimit(options_.silenceMs);
    if (StopSignals* stop = StopSignals::current())
        session_.setStopFlag(&stop->flag());
    // The line log the windows keep, for support, and the trace a script
    // asked for besides it: the log holds every exchange whatever the
    // script chose. Neither ever stops the command.
    logs_.push_back(std::make_unique<LineLog>());
    if (!options_.trace.isEmpty())
        logs_.push_back(std::make_unique<LineLog>(options_.trace, LineLog::Limits{ 0, 1 }));
    for (const auto& log : logs_)
        tap_.add(log.get());
    session_.setObserver(&tap_);
    session_.exchange().announce(options_.action);
    showWriteProgress();
}

BoxLink::~BoxLink()
{
    port_.OnRxChar = nullptr;
    session_.exchange().close();
    session_.setObserver(nullptr);
    for (const auto& log : logs_) {
        log->flush();
        const QString failure = log->failure();
        if (!failure.isEmpty())
            note(false, QStringLiteral("il log della linea non si è potuto scrivere (%1); il comando non ne risente.").arg(failure));
    }
}

QString BoxLink::serialErrorText(const ECommError& error)
{
    return BoxSession::serialErrorText(error);
}

BoxLink::Answer BoxLink::await(const QString& label)
{
    stopIfSignalled();
    progress_.show(label, -1);
    const RemoteResult answer = awaitAnswer(session_, [&](int tableBytes) {
        progress_.show(label, std::min(100, tableBytes * 100 / codec::ImageSize));
    });
    progress_.end();
    return answerOf(answer);
}

BoxLink::Answer BoxLink::answerOf(const RemoteResult& answer)
{
    switch (answer.kind) {
    case RemoteResult::Kind::Table:
        return Answer{ true, answer.table, 0 };
    case RemoteResult::Kind::Reply:
        return Answer{ false, {}, answer.replyCode };
    case RemoteResult::Kind::Stopped:
        stopIfSignalled();
        fail(LineTrouble, QStringLiteral("interrotto."));
    case RemoteResult::Kind::Done:
        break;
    case RemoteResult::Kind::Silent:
    case RemoteResult::Kind::CutShort:
    case RemoteResult::Kind::LineError:
    case RemoteResult::Kind::NotSent:
        fail(LineTrouble, answer.message);
    }
    fail(LineTrouble, QStringLiteral("nessuna risposta dalla centralina."));
}

ReceivedTable BoxLink::readTable()
{
    onLine([&] { session_.readTable(); });
    const Answer answer = await(QStringLiteral("Lettura"));
    if (!answer.table)
        fail(LineTrouble, QStringLiteral("la centralina sulla porta \"%1\" ha risposto 02 03 %2 invece di mandare la tabella.")
                              .arg(options_.port)
                              .arg(answer.replyCode, 2, 16, QLatin1Char('0')));
    return answer.received;
}

void BoxLink::showWriteProgress()
{
    const QString label = QStringLiteral("Scrittura");
    QObject::connect(&session_, &BoxSession::writeStarting, &session_, [this, label] { progress_.show(label, 0); });
    QObject::connect(&session_, &BoxSession::recordStarting, &session_,
                     [this, label](int association) { progress_.show(label, association * 100 / codec::RecordCount); });
    QObject::connect(&session_, &BoxSession::writeEnded, &session_, [this, label](const writeplan::Plan&, const writeplan::Result& result) {
        if (result.sent())
            progress_.show(label, 100);
        progress_.end();
    });
}

void BoxLink::writeTable(const writeplan::Plan& plan)
{
    const writeplan::Result result = onLine([&] { return session_.writePlan(plan); });
    switch (result.outcome) {
    case writeplan::Result::Outcome::Sent:
        return;
    case writeplan::Result::Outcome::Refused:
        fail(TableRefused, result.message);
    case writeplan::Result::Outcome::CutShort:
        fail(LineTrouble, result.message);
    }
}

} // namespace tool

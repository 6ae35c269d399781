#pragma once

#include "device/Exchange.h"
#include "device/LineLog.h"
#include "device/LineObserver.h"
#include "device/Pacer.h"
#include "device/TableGrid.h"
#include "device/WritePlan.h"
#include "serial/CommInt.h"
#include "session/BoxSession.h"
#include "session/RemoteCall.h"
#include "session/StopFlag.h"
#include "tool/ToolFrame.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

// The serial line as the tool works it: the window's port settings and
// exchange, the same reads and writes, and a bound on how long the line may
// stay silent while an answer is awaited (the window waits for ever; a
// script must not).
namespace tool {

struct LineOptions
{
    QString port;
    int silenceMs = 10000;
    bool quiet = false;
    QString trace;  // a file the exchange is also written to, or empty
    QString action; // the command line, for the logs
};

// --port P, --timeout S and --trace FILE, for every command on the line.
void addLineOptions(CommandParser& parser, bool portOption = true);
// --port P with a description of its own (a command that takes several),
// and --timeout S, for commands that do not take all the line options.
QCommandLineOption portOption(const QString& description);
QCommandLineOption timeoutOption();
// --timeout S as given (the default when it is not), or `text` as its
// value, in milliseconds; an unusable value is a usage error.
int silenceMs(const CommandParser& parser);
int silenceMs(const CommandParser& parser, const QString& text);
// The options as given; a missing or unusable value is a usage error.
LineOptions lineOptions(const CommandParser& parser);
// A port name as the window's "Porta:" box would take it: a usage error
// when it is empty or could not be a device name.
QString checkedPortName(const QString& name);
// A number or a prefix as a dial frame carries it: empty when it can be
// dialled, or why not, in words that follow it ("è vuoto", ...).
QString dialProblem(const QString& digits);

// One line of progress on standard error, rewritten in place, when standard
// error is a terminal and --quiet is not given.
class Progress
{
public:
    explicit Progress(bool quiet);
    ~Progress() { end(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // `percent` below 0 shows the label alone.
    void show(const QString& label, int percent = -1);
    // Ends the line, so what follows starts on a line of its own.
    void end();

private:
    bool enabled_;
    QString shown_;
};

// Hears the line for the tool: counts the writes (a session that wrote
// nothing has dialled nothing) and passes every event on to the logs.
class LineTap : public LineObserver
{
public:
    void add(LineObserver* observer) { observers_.push_back(observer); }
    int writes() const { return writes_; }

    void action(const QString& what) override;
    void opened(const QString& deviceName) override;
    void openFailed(const QString& deviceName, const QString& message) override;
    void closed() override;
    void written(const std::uint8_t* bytes, int count, int result) override;
    void read(const std::uint8_t* bytes, int count) override;

private:
    std::vector<LineObserver*> observers_;
    int writes_ = 0;
};

// The waits of a remote session on the tool's line: real ones (scaled only
// by PRADIX_PACE_SCALE, for tests against the simulator), cut short by a stop
// signal (StopSignals), which then ends the step with Interrupted after the
// piece that went out before the wait.
class SignalPacer : public Pacer
{
public:
    void sleep(int ms) override;

private:
    double scale_ = paceScale();
};

// Ends the command when a stop signal has come: exit 128 + the signal.
void stopIfSignalled();

// A session on the tool's port, with the window's line settings, the logs
// and a bound on the silence of the line.
class BoxLink
{
public:
    explicit BoxLink(const LineOptions& options);
    ~BoxLink();
    BoxLink(const BoxLink&) = delete;
    BoxLink& operator=(const BoxLink&) = delete;

    BoxSession& session() { return session_; }
    Exchange& exchange() { return session_.exchange(); }
    // The grid the exchange decodes into: the window's main grid.
    TableGrid& grid() { return grid_; }
    Progress& progress() { return progress_; }
    const LineOptions& options() const { return options_; }
    // Port writes so far, the failed ones included.
    int writes() const { return tap_.writes(); }

    // Runs a step on the line; a serial error it raises ends the command
    // with the window's "Serial error: " text (exit 3).
    template<typename Step>
    auto onLine(Step step) -> decltype(step())
    {
        try {
            return step();
        } catch (const ECommError& error) {
            fail(LineTrouble, serialErrorText(error));
        }
    }

    // "Leggi Eeprom": the table the box holds, in grid() as a window's grid
    // holds it after the read, with the backup the window keeps.
    ReceivedTable readTable();

    // "Scrivi Eeprom" of a plan, ending the command unless the whole table
    // went out; progress on standard error.
    void writeTable(const writeplan::Plan& plan);

    // What the box sends next: a whole table (then in grid()) or a reply
    // frame. A line silent for longer than the time-out, or one that fails,
    // ends the command (exit 3) with the port closed.
    struct Answer
    {
        bool table = false;
        ReceivedTable received; // for a table
        int replyCode = 0;      // for a reply frame
    };
    Answer await(const QString& label);
    // A remote step's answer as await returns it; a stop ends the command
    // (128 + the signal), any other trouble with the step's message (exit 3).
    static Answer answerOf(const RemoteResult& answer);

    static QString serialErrorText(const ECommError& error);

private:
    // Every write of the session shows its progress on standard error.
    void showWriteProgress();

    LineOptions options_;
    Progress progress_;
    TComm port_;
    TableGrid grid_;
    SignalPacer pacer_;
    RealClock clock_;
    BoxSession session_;
    LineTap tap_;
    std::vector<std::unique_ptr<LineLog>> logs_;
};

} // namespace tool

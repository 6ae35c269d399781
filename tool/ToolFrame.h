#pragma once

#include <QByteArray>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// The frame every pradix-tool command runs in: the exit codes scripts rely
// on, the failure a command throws to end with one of them, the command
// table with its help, and output on standard output and error.
namespace tool {

enum ExitCode {
    Success = 0,
    Differences = 1, // diff (and later verify, write --verify)
    UsageError = 2,
    LineTrouble = 3, // the port, a time-out, an error reply, a write cut short
    TableRefused = 4,
    FileError = 5,
    // Ended by a stop signal after putting the line down: 128 + the signal,
    // as a shell reports a program the signal ended (130 for Ctrl+C, 143 for SIGTERM).
    StoppedBySignal = 128,
};

// Ends the command: main prints "pradix-tool: " + message on standard error
// and exits with the code.
struct Failure
{
    ExitCode code;
    QString message;
};

[[noreturn]] void fail(ExitCode code, const QString& message);

// What a command is handed: its own arguments (the words after its name),
// and whether --quiet stood before the command name.
struct Invocation
{
    QStringList arguments;
    bool quiet = false;
    QString path;     // how the command was called: "show", "book list"
    QString synopsis; // its line of the command table
};

struct Command
{
    QString name;
    QString synopsis; // "show FILE.dat [--json]"
    QString summary;  // one line for the help that lists it
    // Empty for a group of sub-commands ("book list", "book show"), which
    // dispatches again on the next word.
    std::function<int(const Invocation&)> run;
    std::vector<Command> subcommands;
    QString description; // a group's help, after its usage line
    // The PDF printer needs the toolkit's Gui part (on the offscreen platform).
    bool needsGui = false;
};

// The commands, in the order the program's help lists them.
const std::vector<Command>& commands();

// Runs the program on its arguments (without the program name); the result
// is the exit code. Failures are printed here.
int runTool(const QStringList& arguments);

// Whether these arguments ask for a command that needs Qt Gui.
bool needsGui(const QStringList& arguments);

QString programHelp();
QString versionText();

// Parses one command's arguments: positional names, options, --help and
// --quiet. On --help it prints the command's help and returns false (the
// command then exits with 0); a usage error throws a Failure.
class CommandParser
{
public:
    // `description` follows the command's usage line in its help.
    CommandParser(const Invocation& invocation, const QString& description);

    void addOption(const QCommandLineOption& option) { options_.push_back(option); }
    // Positional arguments, as the help names them; between `least` and
    // `most` of them must be given.
    void expectArguments(int least, int most) { least_ = least; most_ = most; }

    bool parse();

    bool isSet(const QString& name) const { return parser_.isSet(name); }
    QString value(const QString& name) const { return parser_.value(name); }
    // Every value of an option given more than once, in order.
    QStringList values(const QString& name) const { return parser_.values(name); }
    QStringList positional() const { return parser_.positionalArguments(); }
    // --quiet before or after the command name.
    bool quiet() const;

    // A usage error naming the option `name` when it is not given.
    void require(const QString& name) const;
    // A usage error: `message`, then where the command's help is.
    [[noreturn]] void usageError(const QString& message) const;

    QString helpText() const;
    const Invocation& invocation() const { return invocation_; }

private:
    const Invocation& invocation_;
    QString description_;
    std::vector<QCommandLineOption> options_;
    int least_ = 0;
    int most_ = 0;
    QCommandLineParser parser_;
};

// Options several commands share.
QCommandLineOption outputOption(const QString& description); // -o, --output FILE
QCommandLineOption jsonOption();                             // --json
QCommandLineOption csvOption();                              // --csv

// `bytes` into the file -o names (whole, as writeFileWhole), or on standard
// output without -o.
void writeOutput(const CommandParser& parser, const QByteArray& bytes);

// Output on standard output, as UTF-8. A failed write (a full disk, a closed
// pipe) is a file error.
void out(const QString& text);
void outBytes(const QByteArray& bytes);
// A note on standard error, left out with --quiet.
void note(bool quiet, const QString& text);

// Writes `bytes` to `path` whole: aside, synced, then renamed over the old
// file, which stays as it was on any failure (a file error).
void writeFileWhole(const QString& path, const QByteArray& bytes);

// The text of a file, bounded: more than `limit` bytes is a file error.
QByteArray readFileBounded(const QString& path, qint64 limit);

} // namespace tool

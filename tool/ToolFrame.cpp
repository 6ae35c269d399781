#include "tool/ToolFrame.h"

#include "tool/Commands.h"

#include "tables/TableFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTranslator>

#include <cstdio>

#include <unistd.h>

namespace tool {

namespace {

const QString Program = QStringLiteral("pradix-tool");

QString usageHint(const QString& command = QString())
{
    return QStringLiteral("\"%1 %2--help\" mostra l'uso.").arg(Program, command.isEmpty() ? QString() : command + QLatin1Char(' '));
}

// --quiet before the command name; after it, each command's parser takes it.
bool takeQuiet(QStringList& arguments)
{
    bool quiet = false;
    while (!arguments.isEmpty()
           && (arguments.first() == QLatin1String("-q") || arguments.first() == QLatin1String("--quiet"))) {
        quiet = true;
        arguments.removeFirst();
    }
    return quiet;
}

// The parser's own messages ("Unknown option") in Italian, like everything else.
void loadParserTranslation()
{
    static QTranslator translator;
    static bool loaded = false;
    if (loaded)
        return;
    loaded = true;
    if (translator.load(QStringLiteral("qtbase_it"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&translator);
}

// Help is read in an 80-column terminal: a longer line goes on at the
// column its text starts at (the description column of a table, where it is
// not too far right), broken between words.
constexpr int HelpWidth = 80;

// `start` as it stands, then the words of `rest` after it, broken between
// words; the lines after the first start at column `hanging`.
QString wrappedLine(const QString& start, const QString& rest, int hanging)
{
    QString text;
    QString current = start;
    bool first = true;
    for (const QString& word : rest.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const bool opens = first && (current.isEmpty() || current.endsWith(QLatin1Char(' ')));
        if (!opens && current.size() + 1 + word.size() > HelpWidth) {
            text += current + QLatin1Char('\n');
            current = QString(hanging, QLatin1Char(' ')) + word;
        } else {
            current += (opens ? QString() : QStringLiteral(" ")) + word;
        }
        first = false;
    }
    return text + current + QLatin1Char('\n');
}

QString fitted(const QString& text)
{
    static const QRegularExpression column(QStringLiteral("^( +\\S.*?  +)\\S"));
    QString result;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        const bool last = i == lines.size() - 1;
        if (line.size() <= HelpWidth) {
            result += line + (last ? QString() : QStringLiteral("\n"));
            continue;
        }
        const QRegularExpressionMatch table = column.match(line);
        if (table.hasMatch() && table.capturedLength(1) <= HelpWidth / 2) {
            result += wrappedLine(table.captured(1), line.mid(table.capturedLength(1)), int(table.capturedLength(1)));
        } else if (table.hasMatch()) {
            const QString left = table.captured(1).trimmed();
            const int indent = line.indexOf(left);
            result += wrappedLine(QString(indent, QLatin1Char(' ')), left, indent + 4);
            result += wrappedLine(QString(indent + 4, QLatin1Char(' ')), line.mid(table.capturedLength(1)), indent + 4);
        } else {
            const int leading = int(line.size() - QString(line).remove(QRegularExpression(QStringLiteral("^ +"))).size());
            result += wrappedLine(line.left(leading), line.mid(leading), leading + 4);
        }
        if (last)
            result.chop(1);
    }
    return result;
}

QString optionLine(const QCommandLineOption& option)
{
    QStringList names;
    for (const QString& name : option.names())
        names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    QString text = names.join(QStringLiteral(", "));
    if (!option.valueName().isEmpty())
        text += QLatin1Char(' ') + option.valueName();
    return text;
}

QString optionTable(const std::vector<QCommandLineOption>& options)
{
    int width = 0;
    for (const QCommandLineOption& o : options)
        width = std::max(width, int(optionLine(o).size()));
    QString text;
    for (const QCommandLineOption& o : options)
        text += QStringLiteral("  %1  %2\n").arg(optionLine(o), -width).arg(o.description());
    return text;
}

const QCommandLineOption HelpOption({ QStringLiteral("h"), QStringLiteral("help") },
                                    QStringLiteral("mostra questo aiuto ed esce"));
const QCommandLineOption QuietOption({ QStringLiteral("q"), QStringLiteral("quiet") },
                                     QStringLiteral("niente avanzamento né note su standard error"));

void writeStdout(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()))
        fail(FileError, QStringLiteral("impossibile scrivere sullo standard output"));
}

} // namespace

void fail(ExitCode code, const QString& message)
{
    throw Failure{ code, message };
}

namespace {

Command leaf(const char* name, const QString& synopsis, const QString& summary,
             std::function<int(const Invocation&)> run, bool needsGui = false)
{
    Command c;
    c.name = QLatin1String(name);
    c.synopsis = synopsis;
    c.summary = summary;
    c.run = std::move(run);
    c.needsGui = needsGui;
    return c;
}

} // namespace

const std::vector<Command>& commands()
{
    static const std::vector<Command> table = [] {
        Command book;
        book.name = QStringLiteral("book");
        book.synopsis = QStringLiteral("book list|show|export ...");
        book.summary = QStringLiteral("legge la rubrica dei clienti (RUBRICA.DAT) senza modificarla");
        book.description = QStringLiteral("Legge la rubrica dei clienti (RUBRICA.DAT nella cartella corrente, o\n"
                                          "--book FILE) senza mai modificarla. I testi sono decodificati da Windows-1252.");
        book.subcommands = {
            leaf("list", QStringLiteral("book list [--book FILE] [--json]"), QStringLiteral("elenca le schede"), runBookList),
            leaf("show", QStringLiteral("book show N [--book FILE] [--table -o FILE.dat]"),
                 QStringLiteral("mostra una scheda; con --table ne scrive il riepilogo come tabella"), runBookShow),
            leaf("export", QStringLiteral("book export --csv [--book FILE] [-o FILE.csv]"), QStringLiteral("esporta le schede in CSV"),
                 runBookExport),
        };
        Command remote;
        remote.name = QStringLiteral("remote");
        remote.synopsis = QStringLiteral("remote read|write ...");
        remote.summary = QStringLiteral("una sessione remota completa con il combinatore: chiama, legge o scrive, riaggancia");
        remote.description = QStringLiteral("Una sessione remota come la fa la rubrica: il combinatore sulla porta chiama la\n"
                                            "centralina del cliente (--card N della rubrica o --number CIFRE), legge o scrive\n"
                                            "la tabella e riaggancia, anche quando un passo non è riuscito.");
        remote.subcommands = {
            leaf("read",
                 QStringLiteral("remote read --port P (--card N [--book FILE] | --number CIFRE) [--prefix CIFRE] -o FILE.dat "
                                "[--save-to-card]"),
                 QStringLiteral("legge la centralina chiamata in un file di tabella"), runRemoteRead),
            leaf("write",
                 QStringLiteral("remote write FILE.dat --port P (--card N [--book FILE] | --number CIFRE) [--prefix CIFRE]"),
                 QStringLiteral("scrive la tabella del file nella centralina chiamata"), runRemoteWrite),
        };
        Command audit;
        audit.name = QStringLiteral("audit");
        audit.synopsis = QStringLiteral("audit run|report|status ...");
        audit.summary = QStringLiteral("il controllo notturno: chiama e legge ogni centralina, la confronta con la scheda; rapporti e stato");
        audit.description = QStringLiteral("Il controllo notturno delle centraline dei clienti: ogni esito, ogni tabella\n"
                                           "letta e lo stato di ogni centralina vanno nell'archivio dei controlli (--store).");
        audit.subcommands = {
            leaf("run",
                 QStringLiteral("audit run --port P [--port P2 ...] [--book FILE] [--cards ELENCO] [--prefix CIFRE] "
                                "[--timeout S] [--until HH:MM] [--rounds N] [--only-failed] [--resume] [--store FILE] "
                                "[--config FILE]"),
                 QStringLiteral("chiama, legge e confronta ogni centralina della rubrica"), runAuditRun),
            leaf("report", QStringLiteral("audit report [--run ID] (--html FILE | --csv FILE | --json)"),
                 QStringLiteral("il rapporto di un controllo, una riga per cliente"), runAuditReport),
            leaf("status", QStringLiteral("audit status [--json] [--max-age GIORNI]"),
                 QStringLiteral("lo stato in una riga per il monitoraggio (uscita 0-3 come i controlli di monitoraggio)"),
                 runAuditStatus),
        };
        return std::vector<Command>{
            leaf("read", QStringLiteral("read --port P -o FILE.dat"),
                 QStringLiteral("legge la tabella della centralina sulla porta in un file di tabella"), runRead),
            leaf("write", QStringLiteral("write FILE.dat --port P [--verify]"),
                 QStringLiteral("scrive un file di tabella nella centralina; con --verify la rilegge e confronta"), runWrite),
            leaf("verify", QStringLiteral("verify FILE.dat --port P"),
                 QStringLiteral("confronta la centralina con un file di tabella (uscita 1 se differiscono)"), runVerify),
            leaf("show", QStringLiteral("show FILE.dat [--json]"),
                 QStringLiteral("mostra una tabella: modello, intestazione, associazioni usate"), runShow),
            leaf("diff", QStringLiteral("diff A B [--json]"),
                 QStringLiteral("elenca i campi che differiscono tra due tabelle (uscita 1 se ce ne sono)"), runDiff),
            leaf("export", QStringLiteral("export FILE.dat --csv [-o FILE.csv]"),
                 QStringLiteral("esporta una tabella in CSV, una riga per associazione"), runExport),
            leaf("import", QStringLiteral("import FILE.csv -o FILE.dat"), QStringLiteral("controlla un CSV e ne fa un file di tabella"),
                 runImport),
            leaf("pdf", QStringLiteral("pdf FILE.dat -o FILE.pdf [--title TESTO]"),
                 QStringLiteral("stampa una tabella in un documento PDF A4"), runPdf, true),
            book,
            remote,
            audit,
            leaf("history",
                 QStringLiteral("history (--number CIFRE | --card N [--book FILE]) [--json] | history show VERSIONE -o FILE.dat"),
                 QStringLiteral("le versioni e i controlli di una centralina; show ne scrive una come file di tabella"),
                 runHistory),
        };
    }();
    return table;
}

namespace {

const Command* findIn(const std::vector<Command>& list, const QString& name)
{
    for (const Command& c : list)
        if (c.name == name)
            return &c;
    return nullptr;
}

QString commandList(const std::vector<Command>& list)
{
    int width = 0;
    for (const Command& c : list)
        width = std::max(width, int(c.synopsis.size()));
    QString text;
    for (const Command& c : list)
        text += QStringLiteral("  %1  %2\n").arg(c.synopsis, -width).arg(c.summary);
    return text;
}

// Runs the command named by the first argument of `arguments` among `list`;
// `path` is how the commands before it were called ("book").
int dispatch(const std::vector<Command>& list, const QString& path, Invocation invocation)
{
    const QString prefix = path.isEmpty() ? QString() : path + QLatin1Char(' ');
    if (invocation.arguments.isEmpty())
        fail(UsageError, QStringLiteral("manca il comando. ") + usageHint(path));
    const QString name = invocation.arguments.takeFirst();
    const Command* command = findIn(list, name);
    if (!command)
        fail(UsageError, QStringLiteral("comando sconosciuto: \"%1%2\". ").arg(prefix, name) + usageHint(path));
    const QString group = prefix + command->name;
    if (command->run) {
        invocation.path = group;
        invocation.synopsis = command->synopsis;
        return command->run(invocation);
    }
    if (!invocation.arguments.isEmpty()
        && (invocation.arguments.first() == QLatin1String("--help") || invocation.arguments.first() == QLatin1String("-h"))) {
        out(fitted(QStringLiteral("Uso: %1 %2 COMANDO [OPZIONI]\n%3\n\nComandi:\n%4")
                       .arg(Program, group, command->description, commandList(command->subcommands))));
        return Success;
    }
    return dispatch(command->subcommands, group, std::move(invocation));
}

} // namespace

QString versionText()
{
    return QStringLiteral("%1 %2\n"
                          "Licenza GPLv3+: GNU GPL versione 3 o successiva <https://gnu.org/licenses/gpl.html>.\n"
                          "Questo è software libero: lo si può modificare e ridistribuire.\n"
                          "Non c'è ALCUNA GARANZIA, nei limiti permessi dalla legge.\n")
        .arg(Program, QStringLiteral(PRADIX_VERSION));
}

QString programHelp()
{
    QString text = QStringLiteral("Uso: %1 COMANDO [OPZIONI] [ARGOMENTI]\n"
                                  "Centraline Kolvar dalla riga di comando, senza finestre: lettura, scrittura e\n"
                                  "verifica sulla linea seriale, sessioni remote, file di tabella (.dat),\n"
                                  "confronti, CSV, stampa in PDF e rubrica dei clienti.\n\nComandi:\n")
                       .arg(Program);
    text += commandList(commands());
    text += QStringLiteral("\nOpzioni comuni:\n");
    text += optionTable({ HelpOption, QuietOption,
                          QCommandLineOption(QStringLiteral("version"), QStringLiteral("mostra la versione ed esce")) });
    text += QStringLiteral("\n\"%1 COMANDO --help\" mostra l'uso di ogni comando.\n\n"
                           "Codici di uscita:\n"
                           "  0  riuscito\n"
                           "  1  differenze trovate (diff, verify, write --verify)\n"
                           "  2  uso errato\n"
                           "  3  problema sulla linea (porta, tempo scaduto, risposta di errore, scrittura interrotta)\n"
                           "  4  tabella rifiutata dal controllo\n"
                           "  5  errore di file\n"
                           "\"audit status\" usa invece i codici dei controlli di monitoraggio (0 OK,\n"
                           "1 da guardare, 2 critico, 3 sconosciuto): vedi \"%1 audit status --help\".\n")
                .arg(Program);
    return text;
}

bool needsGui(const QStringList& arguments)
{
    QStringList rest = arguments;
    takeQuiet(rest);
    const Command* command = rest.isEmpty() ? nullptr : findIn(commands(), rest.first());
    return command && command->needsGui;
}

int runTool(const QStringList& arguments)
{
    try {
        Invocation invocation;
        invocation.arguments = arguments;
        invocation.quiet = takeQuiet(invocation.arguments);
        const QString first = invocation.arguments.value(0);
        int code = Success;
        if (first == QLatin1String("--help") || first == QLatin1String("-h"))
            out(fitted(programHelp()));
        else if (first == QLatin1String("--version"))
            out(versionText());
        else
            code = dispatch(commands(), QString(), invocation);
        if (std::fflush(stdout) != 0)
            fail(FileError, QStringLiteral("impossibile scrivere sullo standard output"));
        return code;
    } catch (const Failure& failure) {
        std::fflush(stdout);
        const QByteArray text = (Program + QStringLiteral(": ") + failure.message + QLatin1Char('\n')).toUtf8();
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
        return failure.code;
    }
}

CommandParser::CommandParser(const Invocation& invocation, const QString& description)
    : invocation_(invocation)
    , description_(description)
{
}

QString CommandParser::helpText() const
{
    std::vector<QCommandLineOption> all = options_;
    all.push_back(QuietOption);
    all.push_back(HelpOption);
    return fitted(
        QStringLiteral("Uso: %1 %2\n%3\n\nOpzioni:\n%4").arg(Program, invocation_.synopsis, description_, optionTable(all)));
}

bool CommandParser::parse()
{
    loadParserTranslation();
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const QCommandLineOption& o : options_)
        parser_.addOption(o);
    parser_.addOption(QuietOption);
    parser_.addOption(HelpOption);
    QStringList arguments = invocation_.arguments;
    arguments.prepend(Program);
    if (!parser_.parse(arguments))
        usageError(parser_.errorText());
    if (parser_.isSet(HelpOption)) {
        out(helpText());
        return false;
    }
    const int count = int(parser_.positionalArguments().size());
    if (count < least_)
        usageError(QStringLiteral("mancano argomenti."));
    if (count > most_)
        usageError(QStringLiteral("argomento in più: \"%1\".").arg(parser_.positionalArguments().at(most_)));
    return true;
}

QCommandLineOption outputOption(const QString& description)
{
    return QCommandLineOption({ QStringLiteral("o"), QStringLiteral("output") }, description, QStringLiteral("FILE"));
}

QCommandLineOption jsonOption()
{
    return QCommandLineOption(QStringLiteral("json"), QStringLiteral("risultato in JSON"));
}

QCommandLineOption csvOption()
{
    return QCommandLineOption(QStringLiteral("csv"), QStringLiteral("in formato CSV (RFC 4180, UTF-8)"));
}

void CommandParser::require(const QString& name) const
{
    if (!isSet(name))
        usageError(QStringLiteral("manca %1%2.").arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name));
}

void CommandParser::usageError(const QString& message) const
{
    fail(UsageError, message + QLatin1Char(' ') + usageHint(invocation_.path));
}

void writeOutput(const CommandParser& parser, const QByteArray& bytes)
{
    if (parser.isSet(QStringLiteral("output")))
        writeFileWhole(parser.value(QStringLiteral("output")), bytes);
    else
        outBytes(bytes);
}

void out(const QString& text)
{
    writeStdout(text.toUtf8());
}

void outBytes(const QByteArray& bytes)
{
    writeStdout(bytes);
}

bool CommandParser::quiet() const
{
    return invocation_.quiet || parser_.isSet(QuietOption);
}

void note(bool quiet, const QString& text)
{
    if (quiet)
        return;
    const QByteArray bytes = (Program + QStringLiteral(": ") + text + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

void writeFileWhole(const QString& path, const QByteArray& bytes)
{
    const QFileInfo info(path);
    if (info.isDir())
        fail(FileError, QStringLiteral("impossibile creare il file \"%1\": è una cartella.").arg(path));
    if (info.exists() && !info.isFile())
        fail(FileError, QStringLiteral("impossibile creare il file \"%1\": non è un file.").arg(path));
    // A crash leaves the old file or the whole new one; a new one is the user's alone.
    QSaveFile file(path);
    const editor::AsideWrite written = editor::writeFileAside(file, bytes);
    switch (written.status) {
    case editor::AsideWrite::Status::Written:
        return;
    case editor::AsideWrite::Status::OpenFailed:
        fail(FileError, QStringLiteral("impossibile creare il file \"%1\": %2.").arg(path, written.error));
    case editor::AsideWrite::Status::WriteFailed:
        fail(FileError, QStringLiteral("impossibile scrivere il file \"%1\": %2. Il file, se esisteva, è rimasto com'era.")
                            .arg(path, written.error));
    case editor::AsideWrite::Status::FolderUnsynced:
        fail(FileError, QStringLiteral("il file \"%1\" è stato scritto, ma il disco non ha confermato di averlo "
                                       "registrato (%2): dopo un'interruzione di corrente potrebbe tornare com'era.")
                            .arg(path, written.error));
    }
}

QByteArray readFileBounded(const QString& path, qint64 limit)
{
    QFile file(path);
    const QFileInfo info(path);
    if (info.isDir())
        fail(FileError, QStringLiteral("impossibile aprire il file \"%1\": è una cartella.").arg(path));
    if (info.exists() && !info.isFile())
        fail(FileError, QStringLiteral("impossibile aprire il file \"%1\": non è un file.").arg(path));
    if (!file.open(QIODevice::ReadOnly))
        fail(FileError, QStringLiteral("impossibile aprire il file \"%1\": %2.")
                            .arg(path, info.exists() ? file.errorString() : QStringLiteral("il file non esiste")));
    if (file.size() > limit)
        fail(FileError, QStringLiteral("il file \"%1\" è troppo grande (più di %2 byte).").arg(path).arg(limit));
    QByteArray bytes = file.read(limit + 1);
    if (file.error() != QFileDevice::NoError)
        fail(FileError, QStringLiteral("errore di lettura del file \"%1\": %2.").arg(path, file.errorString()));
    if (bytes.size() > limit)
        fail(FileError, QStringLiteral("il file \"%1\" è troppo grande (più di %2 byte).").arg(path).arg(limit));
    return bytes;
}

} // namespace tool

// read, write, verify, diff and the remote session: the commands that work a
// box on the serial line, through the window's own exchange and write plan.

#include "tool/BookAccess.h"
#include "tool/BoxLink.h"
#include "tool/Commands.h"
#include "tool/TableDiff.h"
#include "tool/TableIo.h"

#include "device/Frames.h"
#include "tables/TableFile.h"
#include "session/BoxSession.h"
#include "tool/StopSignals.h"

#include <optional>

namespace tool {

namespace {

const QCommandLineOption VerifyOption(QStringLiteral("verify"),
                                      QStringLiteral("dopo la scrittura rilegge la centralina e la confronta con la tabella"));

// What the write reads of the editor in a window just started, after "Copia
// da file": the selector on association 1, the day and line boxes empty.
writeplan::EditorState freshEditor()
{
    return { 1, QString(), QString() };
}

writeplan::Plan planFor(const TableGrid& grid)
{
    return writeplan::plan(grid, freshEditor());
}

writeplan::Plan writablePlan(const TableGrid& grid)
{
    writeplan::Plan plan = planFor(grid);
    if (const std::optional<writeplan::Result> refused = writeplan::refusal(plan))
        fail(TableRefused, refused->message);
    return plan;
}

// The header and the records as the plan sends them, in the box's image order.
QByteArray sentImage(const writeplan::Plan& plan)
{
    QByteArray bytes;
    for (size_t i = 1; i < plan.pieces.size(); ++i)
        bytes += plan.pieces[i].bytes;
    return bytes;
}

// The table file exactly as "Salva su File" writes it after the read.
void saveReadTable(const TableGrid& grid, const QString& path, bool quiet)
{
    std::vector<int> replaced;
    writeFileWhole(path, editor::tableFileBytes(grid, &replaced));
    if (!replaced.empty())
        note(quiet, editor::replacedCellsMessage(replaced).replace(QLatin1Char('\n'), QLatin1Char(' ')));
}

// Reads the box back and names every byte of the header and the records
// that is not what the plan sent (the clock and the box's own text apart).
int verifyBox(BoxLink& link, const writeplan::Plan& plan)
{
    const ReceivedTable stored = link.readTable();
    const QStringList lines = storedDifferences(sentImage(plan), stored.image);
    for (const QString& line : lines)
        out(line + QLatin1Char('\n'));
    if (!lines.isEmpty())
        fail(Differences, QStringLiteral("la centralina sulla porta \"%1\" non contiene la tabella: %2.")
                              .arg(link.options().port,
                                   lines.size() == 1 ? QStringLiteral("1 differenza")
                                                     : QStringLiteral("%1 differenze").arg(lines.size())));
    return Success;
}

LineOptions portLineOptions(const CommandParser& parser)
{
    parser.require(QStringLiteral("port"));
    return lineOptions(parser);
}

// ---- the remote session

const QCommandLineOption CardOption(QStringLiteral("card"), QStringLiteral("chiama il numero della scheda N della rubrica"),
                                   QStringLiteral("N"));
const QCommandLineOption NumberOption(QStringLiteral("number"), QStringLiteral("chiama questo numero"),
                                      QStringLiteral("CIFRE"));
const QCommandLineOption PrefixOption(QStringLiteral("prefix"),
                                      QStringLiteral("prefisso per la linea esterna, composto prima del numero (poi 4 s di attesa)"),
                                      QStringLiteral("CIFRE"));
const QCommandLineOption SaveToCardOption(QStringLiteral("save-to-card"),
                                          QStringLiteral("salva la tabella letta come riepilogo della scheda (con --card)"));

void addRemoteOptions(CommandParser& parser)
{
    addLineOptions(parser);
    parser.addOption(CardOption);
    parser.addOption(bookOption());
    parser.addOption(NumberOption);
    parser.addOption(PrefixOption);
}

struct Callee
{
    QString surname;
    QString number;
    QString prefix;
};

Callee callee(const CommandParser& parser, const CustomerCard* card)
{
    Callee c;
    if (card) {
        c.surname = card->text(CustomerCard::Field::Cognome);
        c.number = card->text(CustomerCard::Field::Numero);
        const QString problem = dialProblem(c.number);
        if (!problem.isEmpty())
            fail(FileError, QStringLiteral("il numero telefonico della scheda %1 (\"%2\") %3.")
                                .arg(parser.value(CardOption.names().first()), c.number, problem));
    } else {
        c.number = parser.value(NumberOption.names().first());
        const QString problem = dialProblem(c.number);
        if (!problem.isEmpty())
            parser.usageError(QStringLiteral("il numero \"%1\" %2.").arg(c.number, problem));
    }
    if (parser.isSet(PrefixOption.names().first())) {
        c.prefix = parser.value(PrefixOption.names().first());
        const QString problem = dialProblem(c.prefix);
        if (!problem.isEmpty())
            parser.usageError(QStringLiteral("il prefisso \"%1\" %2.").arg(c.prefix, problem));
    }
    return c;
}

// A whole session as the address book runs it: "Chiama", the session's own
// steps, and "Sconnetti" after anything went out on the line, whatever
// happened (a stop signal included), so a script never leaves a call up.
class RemoteSession
{
public:
    RemoteSession(BoxLink& link, Callee callee)
        : link_(link)
        , callee_(std::move(callee))
        , call_(link.session())
    {
        QObject::connect(&link_.session(), &BoxSession::status, &link_.session(),
                         [this](const QString& text) { link_.progress().show(text); });
    }

    RemoteCall& call() { return call_; }

    // The failure of the session, if any; the line is hung up either way.
    std::optional<Failure> run(const std::function<void()>& steps)
    {
        std::optional<Failure> failed;
        try {
            check(call_.dial(callee_.surname, callee_.prefix, callee_.number));
            steps();
            stopIfSignalled();
        } catch (const Failure& failure) {
            failed = failure;
        }
        hangUp(failed);
        return failed;
    }

    // A step that did not go out whole ends the session.
    static void check(const RemoteResult& step)
    {
        if (!step.ok())
            BoxLink::answerOf(step);
    }

private:
    void hangUp(std::optional<Failure>& failed)
    {
        link_.progress().end();
        const RemoteResult hungUp = call_.hangUp();
        link_.progress().end();
        if (hungUp.ok())
            return;
        if (failed)
            note(false, hungUp.message);
        else
            failed = Failure{ LineTrouble, hungUp.message };
    }

    BoxLink& link_;
    Callee callee_;
    RemoteCall call_;
};

} // namespace

int runRead(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral("Legge la tabella della centralina sulla porta P (02 01 01 e i 2067 byte della\n"
                                                    "risposta, come \"Leggi Eeprom\") e la scrive nel file di tabella, byte per byte\n"
                                                    "come \"Salva su File\". Ne tiene la copia di sicurezza come la finestra."));
    addLineOptions(parser);
    parser.addOption(outputOption(QStringLiteral("il file di tabella da scrivere")));
    if (!parser.parse())
        return Success;
    parser.require(QStringLiteral("o"));
    BoxLink link(portLineOptions(parser));
    link.readTable();
    saveReadTable(link.grid(), parser.value(QStringLiteral("output")), parser.quiet());
    return Success;
}

int runWrite(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral("Scrive la tabella del file nella centralina sulla porta P come farebbe \"Scrivi\n"
                                                    "Eeprom\" in una finestra appena aperta dopo \"Copia da file\": lo stesso controllo\n"
                                                    "(una tabella rifiutata esce con 4 e nulla parte), la stessa copia di sicurezza,\n"
                                                    "gli stessi byte, pause e orologio del computer.\n"
                                                    "Con --verify rilegge poi la centralina e confronta ogni byte scritto (orologio e\n"
                                                    "testo della centralina esclusi): uscita 1 se qualcosa differisce."));
    addLineOptions(parser);
    parser.addOption(VerifyOption);
    parser.expectArguments(1, 1);
    if (!parser.parse())
        return Success;
    const LineOptions options = portLineOptions(parser);
    const writeplan::Plan plan = writablePlan(loadTable(parser.positional().first()));
    BoxLink link(options);
    link.writeTable(plan);
    if (!parser.isSet(VerifyOption.names().first()))
        return Success;
    return verifyBox(link, plan);
}

int runVerify(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral("Legge la centralina sulla porta P e la confronta con la tabella del file come\n"
                                                    "\"write --verify\": ogni byte che la scrittura del file manderebbe (orologio e\n"
                                                    "testo della centralina esclusi). Una riga per differenza; uscita 0 se la\n"
                                                    "centralina contiene la tabella, 1 se no."));
    addLineOptions(parser);
    parser.expectArguments(1, 1);
    if (!parser.parse())
        return Success;
    const LineOptions options = portLineOptions(parser);
    const writeplan::Plan plan = writablePlan(loadTable(parser.positional().first()));
    BoxLink link(options);
    return verifyBox(link, plan);
}

int runDiff(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral("Confronta due tabelle: una riga per ogni campo che differisce, per esempio\n"
                                                    "\"Associazione 12, Alle: 1800 -> 1930\"; nulla se sono uguali.\n"
                                                    "A e B sono file di tabella, oppure port:P per la tabella della centralina sulla\n"
                                                    "porta P, letta come \"Leggi Eeprom\" (un file di nome \"port:...\" va scritto\n"
                                                    "\"./port:...\").\n"
                                                    "Uscita 0 se le tabelle sono uguali, 1 se differiscono.\n"
                                                    "Con --json: una lista di oggetti \"association\" (null per l'intestazione),\n"
                                                    "\"field\", \"from\", \"to\"; [] se sono uguali."));
    parser.addOption(jsonOption());
    addLineOptions(parser, false);
    parser.expectArguments(2, 2);
    if (!parser.parse())
        return Success;
    const LineOptions options = lineOptions(parser);
    auto table = [&](const QString& argument) {
        if (!argument.startsWith(QLatin1String("port:")))
            return loadTable(argument);
        LineOptions o = options;
        o.port = checkedPortName(argument.mid(5));
        BoxLink link(o);
        link.readTable();
        return link.grid();
    };
    const TableGrid a = table(parser.positional().at(0));
    const TableGrid b = table(parser.positional().at(1));
    const std::vector<Difference> found = differences(a, b);
    if (parser.isSet(QStringLiteral("json"))) {
        outBytes(differencesJson(found));
    } else {
        for (const Difference& d : found)
            out(differenceLine(d) + QLatin1Char('\n'));
    }
    return found.empty() ? Success : Differences;
}

int runRemoteRead(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral("Una sessione remota come la rubrica: \"Chiama\" (il prefisso, 4 s, il numero),\n"
                                                    "\"Leggi Dati\" (5 s, 02 01 05, la tabella della centralina chiamata), poi\n"
                                                    "\"Sconnetti\" (02 03 03 02 02), mandato anche quando un passo non è riuscito.\n"
                                                    "La tabella va nel file -o, con la copia di sicurezza; con --save-to-card anche\n"
                                                    "nel riepilogo della scheda (la rubrica resta bloccata per tutta la sessione).\n"
                                                    "Con Ctrl+C o SIGTERM la sessione si ferma dopo il frame in corso, manda\n"
                                                    "\"Sconnetti\" ed esce con 130 (Ctrl+C) o 143 (SIGTERM)."));
    addRemoteOptions(parser);
    parser.addOption(SaveToCardOption);
    parser.addOption(outputOption(QStringLiteral("il file di tabella da scrivere")));
    if (!parser.parse())
        return Success;
    const bool byCard = cardOrNumber(parser);
    parser.require(QStringLiteral("o"));
    const bool toCard = parser.isSet(SaveToCardOption.names().first());
    if (toCard && !byCard)
        parser.usageError(QStringLiteral("--save-to-card va con --card."));
    const LineOptions options = portLineOptions(parser);

    // The book is taken before the call: a card that cannot be saved must
    // not cost a call.
    std::optional<CardWriter> writer;
    std::optional<CustomerCard> card;
    if (toCard) {
        writer.emplace(bookPath(parser), parser.value(CardOption.names().first()));
        card = writer->card();
    } else if (byCard) {
        card = readBookCard(bookPath(parser), parser.value(CardOption.names().first()), parser.quiet());
    }
    const StopSignals stop;
    BoxLink link(options);
    RemoteSession session(link, callee(parser, card ? &*card : nullptr));
    bool received = false;
    const std::optional<Failure> failed = session.run([&] {
        const QString label = QStringLiteral("Lettura dati programmazioni");
        link.progress().show(label);
        const BoxLink::Answer answer = BoxLink::answerOf(session.call().readTable([&](int tableBytes) {
            link.progress().show(label, std::min(100, tableBytes * 100 / codec::ImageSize));
        }));
        link.progress().end();
        if (!answer.table)
            fail(LineTrouble, QStringLiteral("la centralina chiamata ha risposto 02 03 %1 invece di mandare la tabella.")
                                  .arg(answer.replyCode, 2, 16, QLatin1Char('0')));
        received = true;
    });
    // What was read is kept even when the hang-up then failed (its backup
    // was kept as it arrived).
    if (received) {
        saveReadTable(link.grid(), parser.value(QStringLiteral("output")), parser.quiet());
        if (writer)
            writer->saveSummary(link.grid());
    }
    if (failed)
        throw *failed;
    return Success;
}

int runRemoteWrite(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral("Una sessione remota come la rubrica: \"Chiama\" (il prefisso, 4 s, il numero),\n"
                                                    "\"Scrivi Dati\" (la tabella del file come \"Scrivi Eeprom\", 1,2 s, 02 01 06 e la\n"
                                                    "risposta della centralina), poi \"Sconnetti\" (02 03 03 02 02), mandato anche\n"
                                                    "quando un passo non è riuscito. La tabella è controllata prima della chiamata;\n"
                                                    "una tabella rifiutata o interrotta non è mai seguita da 02 01 06. La risposta\n"
                                                    "\"ERRORE!!\" (02 03 08) è un problema sulla linea (uscita 3).\n"
                                                    "Con Ctrl+C o SIGTERM la sessione si ferma dopo il frame in corso, manda\n"
                                                    "\"Sconnetti\" ed esce con 130 (Ctrl+C) o 143 (SIGTERM)."));
    addRemoteOptions(parser);
    parser.expectArguments(1, 1);
    if (!parser.parse())
        return Success;
    const bool byCard = cardOrNumber(parser);
    const LineOptions options = portLineOptions(parser);
    const TableGrid table = loadTable(parser.positional().first());
    const writeplan::Plan plan = writablePlan(table);
    std::optional<CustomerCard> card;
    if (byCard)
        card = readBookCard(bookPath(parser), parser.value(CardOption.names().first()), parser.quiet());
    const StopSignals stop;
    BoxLink link(options);
    RemoteSession session(link, callee(parser, card ? &*card : nullptr));
    const std::optional<Failure> failed = session.run([&] {
        const BoxSession::RemoteWrite written
            = link.onLine([&] { return link.session().writeRemote(table, freshEditor()); });
        if (!written.confirmationSent) {
            if (written.table.outcome == writeplan::Result::Outcome::Refused)
                fail(TableRefused, written.table.message);
            if (!written.table.sent())
                fail(LineTrouble, written.table.message);
            fail(LineTrouble, QStringLiteral("la conferma 02 01 06 non è partita: la linea non l'ha presa in tempo."));
        }
        const BoxLink::Answer answer = link.await(QStringLiteral("Invio dati programmazioni"));
        if (answer.table)
            fail(LineTrouble, QStringLiteral("la centralina chiamata ha mandato una tabella invece della risposta."));
        if (answer.replyCode == frames::ReplyError)
            fail(LineTrouble, QStringLiteral("ERRORE!! La centralina chiamata ha risposto 02 03 08: non ha preso la tabella."));
        if (answer.replyCode != frames::ReplyReceived)
            fail(LineTrouble, QStringLiteral("la centralina chiamata ha risposto 02 03 %1, che non conferma la tabella.")
                                  .arg(answer.replyCode, 2, 16, QLatin1Char('0')));
        note(parser.quiet(), QStringLiteral("Dati inviati"));
    });
    if (failed)
        throw *failed;
    return Success;
}

} // namespace tool

// pradix-tool end to end: the program run on real files, its standard
// output, standard error and exit code looked at as a script would.

#include "book/CustomerCard.h"
#include "device/Codec.h"
#include "tables/TableFile.h"
#include "sim/SampleImage.h"
#include "tests/common/TestFiles.h"

#include "BoxSim.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using testfiles::fileBytes;
using testfiles::writeFile;

struct Outcome
{
    int code = -1;
    QByteArray out;
    QString err;
};

class ToolTest : public ::testing::Test
{
protected:
    Outcome tool(const QStringList& arguments)
    {
        QProcess process;
        prepare(process);
        process.start(QStringLiteral(PRADIX_TOOL_PATH), arguments);
        EXPECT_TRUE(process.waitForFinished(60000)) << arguments.join(' ').toStdString();
        Outcome run;
        run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = process.readAllStandardOutput();
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    void prepare(QProcess& process)
    {
        process.setWorkingDirectory(dir_.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
        // The PDF printer must not need a display, whatever the session has.
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("DISPLAY"));
        // A remote session's 4 s and 5 s waits, shortened; the frames are the same.
        if (!realWaits_)
            env.insert(QStringLiteral("PRADIX_PACE_SCALE"), QStringLiteral("0.02"));
        process.setProcessEnvironment(env);
    }

    bool realWaits_ = false;

    QString path(const QString& name) const { return dir_.filePath(name); }

    // A table file exactly as "Salva su File" writes it after a read of the
    // simulator's sample table.
    QString sampleTable(boxsim::Model model, const QString& name)
    {
        const boxsim::Image image = boxsim::sampleImage(model);
        const codec::Model m = model == boxsim::Model::Kolvar22 ? codec::Model::Kolvar22 : codec::Model::Kolvar1;
        TableGrid grid;
        grid.fillData(QString());
        codec::decodeHeader(image.data(), m, grid);
        for (int r = 2; r <= 128; ++r)
            codec::decodeRecord(image.data() + 16 * (r - 1), m, grid, r);
        writeFile(path(name), editor::tableFileBytes(grid));
        return path(name);
    }

    QTemporaryDir dir_;
};

QString text(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes);
}

TEST_F(ToolTest, CsvExportThenImportGivesTheSameTableFileByteForByte)
{
    for (auto model : { boxsim::Model::Kolvar22, boxsim::Model::Kolvar1 }) {
        const QString table = sampleTable(model, QStringLiteral("box.dat"));
        const Outcome toFile = tool({ QStringLiteral("export"), table, QStringLiteral("--csv"), QStringLiteral("-o"), path(QStringLiteral("box.csv")) });
        ASSERT_EQ(toFile.code, 0) << toFile.err.toStdString();
        const Outcome toStdout = tool({ QStringLiteral("export"), table, QStringLiteral("--csv") });
        EXPECT_EQ(toStdout.out, fileBytes(path(QStringLiteral("box.csv"))));

        const Outcome back = tool({ QStringLiteral("import"), path(QStringLiteral("box.csv")), QStringLiteral("-o"), path(QStringLiteral("back.dat")) });
        ASSERT_EQ(back.code, 0) << back.err.toStdString();
        EXPECT_EQ(fileBytes(path(QStringLiteral("back.dat"))), fileBytes(table));
    }
    // Every field quoted, codes with leading zeros as text, one row per association.
    const QString csv = text(fileBytes(path(QStringLiteral("box.csv"))));
    EXPECT_TRUE(csv.startsWith(
        QStringLiteral("\"Associazione\",\"Prefisso\",\"Gestore\",\"Dalle\",\"Alle\",\"Giorno\",\"Linea\",\"Controllo\"\r\n")));
    EXPECT_TRUE(csv.contains(QStringLiteral("\"Prefisso Locale\",\"011\"")));
    EXPECT_TRUE(csv.contains(QStringLiteral("\"2\",\"0039\",\"1088\"")));
    EXPECT_EQ(csv.count(QStringLiteral("\r\n")), 1 + 5 + 127);
}

TEST_F(ToolTest, ImportNamesTheRowAndColumnOfTheFirstBadCellAndWritesNothing)
{
    const QString table = sampleTable(boxsim::Model::Kolvar22, QStringLiteral("box.dat"));
    const QString csv = text(tool({ QStringLiteral("export"), table, QStringLiteral("--csv") }).out);
    ASSERT_FALSE(csv.isEmpty());
    const QString out = path(QStringLiteral("out.dat"));

    // Association 1 is on line 7, after the column names and five header lines.
    QString bad = csv;
    bad.replace(QStringLiteral("\"1\",\"39\",\"1055\",\"0830\""), QStringLiteral("\"1\",\"39\",\"1055\",\"2500\""));
    ASSERT_NE(bad, csv);
    writeFile(path(QStringLiteral("bad.csv")), bad.toUtf8());
    Outcome run = tool({ QStringLiteral("import"), path(QStringLiteral("bad.csv")), QStringLiteral("-o"), out });
    EXPECT_EQ(run.code, 4);
    EXPECT_TRUE(run.err.contains(QStringLiteral("riga 7, colonna \"Dalle\""))) << run.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(out));

    bad = csv;
    bad.replace(QStringLiteral("\"Gestione\",\"Automatica\""), QStringLiteral("\"Gestione\",\"Sempre\""));
    writeFile(path(QStringLiteral("bad.csv")), bad.toUtf8());
    run = tool({ QStringLiteral("import"), path(QStringLiteral("bad.csv")), QStringLiteral("-o"), out });
    EXPECT_EQ(run.code, 4);
    EXPECT_TRUE(run.err.contains(QStringLiteral("riga 3, colonna \"Prefisso\""))) << run.err.toStdString();

    // A file that is no CSV at all is a file error, told with its line.
    writeFile(path(QStringLiteral("broken.csv")), QByteArray("\"Associazione\",\"Prefisso\r\n"));
    run = tool({ QStringLiteral("import"), path(QStringLiteral("broken.csv")), QStringLiteral("-o"), out });
    EXPECT_EQ(run.code, 5);
    EXPECT_TRUE(run.err.contains(QStringLiteral("riga 1"))) << run.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(out));

    run = tool({ QStringLiteral("import"), path(QStringLiteral("bad.csv")) });
    EXPECT_EQ(run.code, 2);
}

// What a spreadsheet does to the file on its way back: codes read as numbers
// lose their leading zeros and are written without quotes.
QString spreadsheetSaved(QString csv)
{
    static const QRegularExpression quotedNumber(QStringLiteral("\"0*(\\d+)\""));
    return csv.replace(quotedNumber, QStringLiteral("\\1"));
}

TEST_F(ToolTest, ImportRefusesASpreadsheetsDamageAndAcceptsEditsAndOlderFiles)
{
    const QString table = sampleTable(boxsim::Model::Kolvar1, QStringLiteral("k1.dat"));
    const QString csv = text(tool({ QStringLiteral("export"), table, QStringLiteral("--csv") }).out);
    const QString out = path(QStringLiteral("out.dat"));
    auto import = [&](const QString& content) {
        writeFile(path(QStringLiteral("in.csv")), content.toUtf8());
        return tool({ QStringLiteral("import"), path(QStringLiteral("in.csv")), QStringLiteral("-o"), out });
    };

    Outcome run = import(spreadsheetSaved(csv));
    EXPECT_EQ(run.code, 4);
    EXPECT_TRUE(run.err.contains(QStringLiteral("riga 4, colonna \"Prefisso\": Prefisso Locale: \"11\" era \"011\"")))
        << run.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(out));

    // A code the operator changed on purpose goes through, and is told.
    QString edited = csv;
    edited.replace(QStringLiteral("\"1\",\"39\",\"1055\""), QStringLiteral("\"1\",\"39\",\"1056\""));
    run = import(edited);
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("Associazione 1, Gestore (riga 7)"))) << run.err.toStdString();

    // A file from before the check column is taken, with a note.
    QString older;
    for (const QString& line : csv.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        older += line.left(line.lastIndexOf(QLatin1Char(','))) + QStringLiteral("\r\n");
    run = import(older);
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("non ha la colonna \"Controllo\""))) << run.err.toStdString();
    EXPECT_EQ(fileBytes(out), fileBytes(table));

    QString renamed = csv;
    renamed.replace(QStringLiteral("\"Gestore\""), QStringLiteral("\"Operatore\""));
    EXPECT_EQ(import(renamed).code, 4);
    QString semicolons = csv;
    semicolons.replace(QStringLiteral("\",\""), QStringLiteral("\";\""));
    run = import(semicolons);
    EXPECT_EQ(run.code, 5);
    EXPECT_TRUE(run.err.contains(QStringLiteral("il separatore dev'essere la virgola"))) << run.err.toStdString();
}

TEST_F(ToolTest, DiffPrintsOneLinePerDifferingFieldAndExitsWithOne)
{
    const QString a = sampleTable(boxsim::Model::Kolvar22, QStringLiteral("a.dat"));
    Outcome run = tool({ QStringLiteral("diff"), a, a });
    EXPECT_EQ(run.code, 0);
    EXPECT_TRUE(run.out.isEmpty());

    QString csv = text(tool({ QStringLiteral("export"), a, QStringLiteral("--csv") }).out);
    csv.replace(QStringLiteral("\"1\",\"39\",\"1055\",\"0830\",\"1300\""), QStringLiteral("\"1\",\"39\",\"1055\",\"0830\",\"1930\""));
    csv.replace(QStringLiteral("\"Gestione\",\"Automatica\""), QStringLiteral("\"Gestione\",\"Manuale\""));
    csv.replace(QStringLiteral("\"Beep\",\"Si\""), QStringLiteral("\"Beep\",\"No\""));
    writeFile(path(QStringLiteral("b.csv")), csv.toUtf8());
    ASSERT_EQ(tool({ QStringLiteral("import"), path(QStringLiteral("b.csv")), QStringLiteral("-o"), path(QStringLiteral("b.dat")) }).code, 0);

    run = tool({ QStringLiteral("diff"), a, path(QStringLiteral("b.dat")) });
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(text(run.out), QStringLiteral("Gestione: Automatica -> Manuale\n"
                                            "Beep: Si -> No\n"
                                            "Associazione 1, Alle: 1300 -> 1930\n"));

    run = tool({ QStringLiteral("diff"), a, path(QStringLiteral("b.dat")), QStringLiteral("--json") });
    EXPECT_EQ(run.code, 1);
    const QJsonArray list = QJsonDocument::fromJson(run.out).array();
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list.at(2).toObject().value(QStringLiteral("association")).toInt(), 1);
    EXPECT_EQ(list.at(2).toObject().value(QStringLiteral("field")).toString(), QStringLiteral("end"));
    EXPECT_TRUE(list.at(0).toObject().value(QStringLiteral("association")).isNull());

    // A cell no field reading shows (a table file cut short) is still a difference.
    QByteArray cut = fileBytes(a);
    cut.chop(28);
    writeFile(path(QStringLiteral("cut.dat")), cut);
    run = tool({ QStringLiteral("diff"), a, path(QStringLiteral("cut.dat")) });
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(text(run.out).startsWith(QStringLiteral("Associazione 127, Prefisso: 055 -> (vuoto)\n"))) << run.out.toStdString();

    // A Kolvar1 prefix one digit shorter moves its code along the key string:
    // the code itself has not changed.
    const QString k1 = sampleTable(boxsim::Model::Kolvar1, QStringLiteral("k1.dat"));
    csv = text(tool({ QStringLiteral("export"), k1, QStringLiteral("--csv") }).out);
    csv.replace(QStringLiteral("\"2\",\"0039\""), QStringLiteral("\"2\",\"039\""));
    writeFile(path(QStringLiteral("k1b.csv")), csv.toUtf8());
    ASSERT_EQ(tool({ QStringLiteral("import"), path(QStringLiteral("k1b.csv")), QStringLiteral("-o"), path(QStringLiteral("k1b.dat")) }).code, 0);
    run = tool({ QStringLiteral("diff"), k1, path(QStringLiteral("k1b.dat")) });
    EXPECT_EQ(text(run.out), QStringLiteral("Associazione 2, Prefisso: 0039 -> 039\n"));

    run = tool({ QStringLiteral("diff"), a, path(QStringLiteral("missing.dat")) });
    EXPECT_EQ(run.code, 5);
    EXPECT_TRUE(run.err.contains(QStringLiteral("missing.dat")));
}

TEST_F(ToolTest, ShowJsonGivesTheModelHeaderAndUsedAssociations)
{
    Outcome run = tool({ QStringLiteral("show"), sampleTable(boxsim::Model::Kolvar22, QStringLiteral("k22.dat")), QStringLiteral("--json") });
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    QJsonObject root = QJsonDocument::fromJson(run.out).object();
    EXPECT_EQ(root.value(QStringLiteral("model")).toString(), QStringLiteral("Kolvar22"));
    const QJsonObject header = root.value(QStringLiteral("header")).toObject();
    EXPECT_EQ(header.value(QStringLiteral("management")).toString(), QStringLiteral("Automatica"));
    EXPECT_EQ(header.value(QStringLiteral("local_prefix")).toString(), QStringLiteral("02"));
    EXPECT_EQ(header.value(QStringLiteral("beep")), QJsonValue(QStringLiteral("Si")));
    EXPECT_EQ(header.value(QStringLiteral("flash")), QJsonValue(QStringLiteral("No")));
    QJsonArray list = root.value(QStringLiteral("associations")).toArray();
    ASSERT_EQ(list.size(), 8);
    const QJsonObject first = list.at(0).toObject();
    EXPECT_EQ(first.value(QStringLiteral("number")).toInt(), 1);
    EXPECT_EQ(first.value(QStringLiteral("prefix")).toString(), QStringLiteral("39"));
    EXPECT_EQ(first.value(QStringLiteral("carrier")).toString(), QStringLiteral("1055"));
    EXPECT_EQ(first.value(QStringLiteral("start")).toString(), QStringLiteral("0830"));
    EXPECT_EQ(first.value(QStringLiteral("end")).toString(), QStringLiteral("1300"));
    EXPECT_EQ(first.value(QStringLiteral("day")).toString(), QStringLiteral("Feriale"));
    EXPECT_EQ(first.value(QStringLiteral("line")).toString(), QStringLiteral("1"));
    EXPECT_EQ(list.at(3).toObject().value(QStringLiteral("carrier")).toString(), QStringLiteral("123#"));
    EXPECT_EQ(list.at(3).toObject().value(QStringLiteral("day")), QJsonValue(QString())) << "a field not set";
    EXPECT_EQ(list.at(7).toObject().value(QStringLiteral("number")).toInt(), 127);

    run = tool({ QStringLiteral("show"), sampleTable(boxsim::Model::Kolvar1, QStringLiteral("k1.dat")), QStringLiteral("--json") });
    root = QJsonDocument::fromJson(run.out).object();
    EXPECT_EQ(root.value(QStringLiteral("model")).toString(), QStringLiteral("Kolvar1"));
    list = root.value(QStringLiteral("associations")).toArray();
    ASSERT_EQ(list.size(), 6);
    EXPECT_EQ(list.at(3).toObject().value(QStringLiteral("prefix")).toString(), QStringLiteral("800123456"));
    EXPECT_FALSE(list.at(0).toObject().contains(QStringLiteral("start")));
    EXPECT_FALSE(root.value(QStringLiteral("header")).toObject().contains(QStringLiteral("beep")));

    // A control character in a cell reaches the terminal escaped.
    TableGrid grid;
    ASSERT_EQ(editor::loadTableFile(grid, path(QStringLiteral("k22.dat"))).status, editor::LoadResult::Status::Loaded);
    grid.setCell(2, 2, QStringLiteral("\x1b"));
    writeFile(path(QStringLiteral("esc.dat")), editor::tableFileBytes(grid));
    run = tool({ QStringLiteral("show"), path(QStringLiteral("esc.dat")) });
    EXPECT_FALSE(run.out.contains('\x1b'));
    EXPECT_TRUE(text(run.out).contains(QStringLiteral("3\\u001b"))) << run.out.toStdString();
}

TEST_F(ToolTest, PdfHoldsTheTableAsSelectableText)
{
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    ASSERT_FALSE(pdftotext.isEmpty()) << "pdftotext (poppler-utils) is installed by scripts/bootstrap";
    const QString table = sampleTable(boxsim::Model::Kolvar22, QStringLiteral("box.dat"));
    const Outcome run = tool({ QStringLiteral("pdf"), table, QStringLiteral("-o"), path(QStringLiteral("box.pdf")),
                           QStringLiteral("--title"), QStringLiteral("Rossi Mario") });
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    QProcess convert;
    convert.start(pdftotext, { QStringLiteral("-layout"), path(QStringLiteral("box.pdf")), QStringLiteral("-") });
    ASSERT_TRUE(convert.waitForFinished(60000));
    const QString pdf = QString::fromUtf8(convert.readAllStandardOutput());
    for (const char* expected : { "Rossi Mario", "Modello: Kolvar22", "Gestione: Automatica", "Prefisso Locale: 02",
                                  "Pagina 1 di 1", "1055", "0830", "Feriale", "800123", "127" })
        EXPECT_TRUE(pdf.contains(QLatin1String(expected))) << expected << "\n" << pdf.toStdString();

    // Every association used: pages after the first say whose table they
    // hold, and a title longer than the page is wide goes on to a second line.
    TableGrid full;
    ASSERT_EQ(editor::loadTableFile(full, table).status, editor::LoadResult::Status::Loaded);
    for (int r = 3; r <= 128; ++r)
        for (int c = 1; c <= 26; ++c)
            full.setCell(c, r, full.cell(c, 2));
    writeFile(path(QStringLiteral("full.dat")), editor::tableFileBytes(full));
    const QString title = QStringLiteral("Rossi Mario, impianto telefonico del magazzino e degli uffici di via Emilia 12, Forlì");
    ASSERT_EQ(tool({ QStringLiteral("pdf"), path(QStringLiteral("full.dat")), QStringLiteral("-o"), path(QStringLiteral("full.pdf")),
                     QStringLiteral("--title"), title }).code, 0);
    convert.start(pdftotext, { path(QStringLiteral("full.pdf")), QStringLiteral("-") });
    ASSERT_TRUE(convert.waitForFinished(60000));
    const QStringList pages = QString::fromUtf8(convert.readAllStandardOutput()).split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    ASSERT_GE(pages.size(), 3);
    EXPECT_TRUE(pages.first().simplified().contains(title)) << pages.first().toStdString();
    for (int p = 1; p < pages.size(); ++p)
        EXPECT_TRUE(pages.at(p).contains(QStringLiteral("Rossi Mario"))) << p;
}

TEST_F(ToolTest, BookIsReadAsTheWindowShowsItAndNeverWritten)
{
    CustomerCard rossi;
    rossi.setText(CustomerCard::Field::Cognome, QStringLiteral("ROSSI"));
    rossi.setText(CustomerCard::Field::Nome, QStringLiteral("MARIO"));
    rossi.setText(CustomerCard::Field::Numero, QStringLiteral("0461123456"));
    rossi.setText(CustomerCard::Field::Indirizzo, QStringLiteral("\x1b]0;x\x07"));
    rossi.setText(CustomerCard::Field::Citta, QStringLiteral("Forlì"));
    rossi.setText(CustomerCard::Field::Cap, QStringLiteral("47121"));
    TableGrid summary;
    summary.fillData(QStringLiteral("-"));
    ASSERT_EQ(editor::loadTableFile(summary, sampleTable(boxsim::Model::Kolvar1, QStringLiteral("k1.dat"))).status,
              editor::LoadResult::Status::Loaded);
    rossi.takeSummaryFrom(summary);
    CustomerCard empty;
    QByteArray book(reinterpret_cast<const char*>(empty.data()), CustomerCard::Size);
    book.append(reinterpret_cast<const char*>(rossi.data()), CustomerCard::Size);
    book.append("partial");
    writeFile(path(QStringLiteral("RUBRICA.DAT")), book);
    const QDateTime modified = QFileInfo(path(QStringLiteral("RUBRICA.DAT"))).lastModified();

    Outcome run = tool({ QStringLiteral("book"), QStringLiteral("list"), QStringLiteral("--json") });
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    const QJsonArray list = QJsonDocument::fromJson(run.out).array();
    ASSERT_EQ(list.size(), 2);
    const QJsonObject card = list.at(1).toObject();
    EXPECT_EQ(card.value(QStringLiteral("card")).toInt(), 2);
    EXPECT_EQ(card.value(QStringLiteral("surname")).toString(), QStringLiteral("ROSSI"));
    EXPECT_EQ(card.value(QStringLiteral("town")).toString(), QStringLiteral("Forlì"));
    EXPECT_EQ(card.value(QStringLiteral("postcode")).toString(), QStringLiteral("47121"));
    EXPECT_TRUE(run.err.contains(QStringLiteral("incompleta")));
    EXPECT_TRUE(tool({ QStringLiteral("--quiet"), QStringLiteral("book"), QStringLiteral("list") }).err.isEmpty());
    // What a card holds reaches a terminal with its control characters escaped.
    run = tool({ QStringLiteral("book"), QStringLiteral("show"), QStringLiteral("2") });
    EXPECT_FALSE(run.out.contains('\x1b'));
    EXPECT_TRUE(text(run.out).contains(QStringLiteral("Indirizzo: \\u001b]0;x\\u0007"))) << run.out.toStdString();
    EXPECT_TRUE(tool({ QStringLiteral("book"), QStringLiteral("list"), QStringLiteral("-q") }).err.isEmpty());

    run = tool({ QStringLiteral("book"), QStringLiteral("show"), QStringLiteral("2"), QStringLiteral("--table"),
                 QStringLiteral("-o"), path(QStringLiteral("card.dat")) });
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(fileBytes(path(QStringLiteral("card.dat"))), fileBytes(path(QStringLiteral("k1.dat"))));

    run = tool({ QStringLiteral("book"), QStringLiteral("export"), QStringLiteral("--csv") });
    EXPECT_TRUE(text(run.out).contains(QStringLiteral("\"2\",\"ROSSI\",\"MARIO\",\"0461123456\",\"\x1b]0;x\x07\",\"Forlì\",\"\",\"47121\"\r\n")))
        << run.out.toStdString();

    EXPECT_EQ(tool({ QStringLiteral("book"), QStringLiteral("show"), QStringLiteral("3") }).code, 2);
    EXPECT_EQ(fileBytes(path(QStringLiteral("RUBRICA.DAT"))), book);
    EXPECT_EQ(QFileInfo(path(QStringLiteral("RUBRICA.DAT"))).lastModified(), modified);

    // No book is never a new, empty one.
    run = tool({ QStringLiteral("book"), QStringLiteral("list"), QStringLiteral("--book"), path(QStringLiteral("none.dat")) });
    EXPECT_EQ(run.code, 5);
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("none.dat"))));
}

// The longest line of a text, in characters.
int widest(const QString& text)
{
    int width = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        width = std::max(width, int(line.size()));
    return width;
}

TEST_F(ToolTest, EveryCommandHasItsHelpAndMistakesAreUsageErrors)
{
    const Outcome help = tool({ QStringLiteral("--help") });
    EXPECT_EQ(help.code, 0);
    EXPECT_LE(widest(text(help.out)), 80);
    for (const char* group : { "book", "remote" })
        EXPECT_LE(widest(text(tool({ QLatin1String(group), QStringLiteral("--help") }).out)), 80) << group;
    for (const char* command : { "read", "write", "verify", "show", "diff", "export", "import", "pdf", "book", "remote" }) {
        EXPECT_TRUE(text(help.out).contains(QStringLiteral("\n  %1 ").arg(QLatin1String(command)))) << command;
        const Outcome own = tool({ QLatin1String(command), QStringLiteral("--help") });
        EXPECT_EQ(own.code, 0) << command;
        EXPECT_TRUE(text(own.out).startsWith(QStringLiteral("Uso: pradix-tool %1").arg(QLatin1String(command)))) << command;
        EXPECT_LE(widest(text(own.out)), 80) << command;
    }
    for (const char* command : { "list", "show", "export" }) {
        const Outcome own = tool({ QStringLiteral("book"), QLatin1String(command), QStringLiteral("--help") });
        EXPECT_EQ(own.code, 0) << command;
        EXPECT_TRUE(text(own.out).startsWith(QStringLiteral("Uso: pradix-tool book %1").arg(QLatin1String(command)))) << command;
    }
    for (const char* command : { "read", "write" }) {
        const Outcome own = tool({ QStringLiteral("remote"), QLatin1String(command), QStringLiteral("--help") });
        EXPECT_TRUE(text(own.out).startsWith(QStringLiteral("Uso: pradix-tool remote %1").arg(QLatin1String(command)))) << command;
        EXPECT_LE(widest(text(own.out)), 80) << command;
    }
    EXPECT_EQ(tool({ QStringLiteral("book"), QStringLiteral("lost") }).code, 2);
    EXPECT_EQ(tool({ QStringLiteral("read"), QStringLiteral("-o"), QStringLiteral("a.dat") }).code, 2) << "no port";
    EXPECT_EQ(tool({ QStringLiteral("remote"), QStringLiteral("read"), QStringLiteral("--port"), QStringLiteral("x"),
                     QStringLiteral("--number"), QStringLiteral("12a"), QStringLiteral("-o"), QStringLiteral("a.dat") })
                  .code,
              2);
    EXPECT_EQ(tool({ QStringLiteral("--version") }).code, 0);
    EXPECT_EQ(tool({}).code, 2);
    EXPECT_EQ(tool({ QStringLiteral("frobnicate") }).code, 2);
    EXPECT_EQ(tool({ QStringLiteral("show") }).code, 2);
    EXPECT_EQ(tool({ QStringLiteral("show"), QStringLiteral("a.dat"), QStringLiteral("--nope") }).code, 2);
    EXPECT_EQ(tool({ QStringLiteral("export"), QStringLiteral("a.dat") }).code, 2);
}

// ---- on the line, against the box simulator

QString dev(const BoxSim& sim)
{
    return QString::fromStdString(sim.devicePath());
}

// The frames of a log in order ("dial 0", "write", "remote-write", "hangup").
QStringList frames(const std::string& log)
{
    QStringList names;
    for (const QString& line : QString::fromStdString(log).split(QLatin1Char('\n'))) {
        const int at = line.indexOf(QLatin1String(" FRAME "));
        if (at >= 0)
            names << line.mid(at + 7).section(QLatin1Char(' '), 0, 0);
    }
    return names;
}

TEST_F(ToolTest, ReadGivesTheBoxsTableAsSalvaSuFileWouldAndKeepsItsBackup)
{
    for (auto model : { boxsim::Model::Kolvar22, boxsim::Model::Kolvar1 }) {
        BoxSim sim;
        ASSERT_TRUE(sim.start({ "--fast", "--model", model == boxsim::Model::Kolvar22 ? "22" : "1" })) << sim.error();
        const Outcome run = tool({ QStringLiteral("read"), QStringLiteral("--port"), dev(sim), QStringLiteral("-o"), path(QStringLiteral("read.dat")) });
        ASSERT_EQ(run.code, 0) << run.err.toStdString();
        EXPECT_EQ(fileBytes(path(QStringLiteral("read.dat"))), fileBytes(sampleTable(model, QStringLiteral("expected.dat"))));
    }
    const QStringList backups = QDir(path(QStringLiteral("data/pradix/backups"))).entryList({ QStringLiteral("*_read_*.dat") });
    EXPECT_EQ(backups.size(), 2);
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("state/pradix/line.log"))));
}

TEST_F(ToolTest, WriteReachesTheBoxAndReadsBackTheSame)
{
    const QString table = sampleTable(boxsim::Model::Kolvar22, QStringLiteral("box.dat"));
    BoxSim good;
    ASSERT_TRUE(good.start({ "--fast", "--model", "1" })) << good.error();
    Outcome run = tool({ QStringLiteral("write"), table, QStringLiteral("--port"), dev(good), QStringLiteral("--verify") });
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    run = tool({ QStringLiteral("read"), QStringLiteral("--port"), dev(good), QStringLiteral("-o"), path(QStringLiteral("back.dat")) });
    EXPECT_EQ(fileBytes(path(QStringLiteral("back.dat"))), fileBytes(table));
    EXPECT_EQ(tool({ QStringLiteral("diff"), table, QStringLiteral("port:") + dev(good) }).code, 0);
}

TEST_F(ToolTest, VerifyCatchesABoxThatChangesAByte)
{
    const QString table = sampleTable(boxsim::Model::Kolvar22, QStringLiteral("box.dat"));
    Outcome run;
    // Byte 35 is the fourth prefix digit of association 2 (0039 -> 0038).
    BoxSim bad;
    ASSERT_TRUE(bad.start({ "--fast", "--fault", "corrupt-store:35" })) << bad.error();
    run = tool({ QStringLiteral("write"), table, QStringLiteral("--port"), dev(bad), QStringLiteral("--verify") });
    EXPECT_EQ(run.code, 1) << run.err.toStdString();
    EXPECT_EQ(text(run.out), QStringLiteral("Associazione 2, Prefisso: 0039 -> 0038\n"));
    run = tool({ QStringLiteral("verify"), table, QStringLiteral("--port"), dev(bad) });
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(text(run.out), QStringLiteral("Associazione 2, Prefisso: 0039 -> 0038\n"));
    run = tool({ QStringLiteral("diff"), QStringLiteral("port:") + dev(bad), table });
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(text(run.out), QStringLiteral("Associazione 2, Prefisso: 0038 -> 0039\n"));
}

// Every exit code a script acts on, with the words that say why. "PORT" in
// an argument is the box simulator's line, started with `box` (none when
// empty); `before` runs first and must succeed.
// One row per outcome a script must tell apart; each row is a case of its
// own, so the rows that wait on a written table's pauses run side by side.
class ToolExitCodes : public ToolTest, public ::testing::WithParamInterface<int>
{
};
constexpr int ExitCodeCases = 10;

TEST_P(ToolExitCodes, TellScriptsWhatHappened)
{
    const QString k22 = sampleTable(boxsim::Model::Kolvar22, QStringLiteral("k22.dat"));
    const QString k1 = sampleTable(boxsim::Model::Kolvar1, QStringLiteral("k1.dat"));
    // A start time the box has no byte for: refused by the window's check.
    TableGrid grid;
    ASSERT_EQ(editor::loadTableFile(grid, k22).status, editor::LoadResult::Status::Loaded);
    grid.setCell(15, 2, QStringLiteral("?"));
    writeFile(path(QStringLiteral("bad.dat")), editor::tableFileBytes(grid));
    writeFile(path(QStringLiteral("names.csv")), QByteArray("\"N\",\"Prefisso\"\r\n"));

    struct Case
    {
        std::vector<const char*> box;
        QStringList before;
        QStringList arguments;
        int code;
        QString words;
        QString boxStillHolds; // a table file the box must read back as, after the run
    };
    const QString P = QStringLiteral("PORT");
    const Case cases[] = {
        { {}, {}, { QStringLiteral("diff"), k22, k22 }, 0, QString(), QString() },
        { {}, {}, { QStringLiteral("diff"), k22, k1 }, 1, QStringLiteral("Modello: Kolvar22 -> Kolvar1"), QString() },
        { {}, {}, { QStringLiteral("show") }, 2, QStringLiteral("mancano argomenti"), QString() },
        { { "--fault", "silent" }, {}, { QStringLiteral("read"), QStringLiteral("--port"), P, QStringLiteral("--timeout"), QStringLiteral("1"), QStringLiteral("-o"), path(QStringLiteral("x.dat")) },
          3, QStringLiteral("nessuna risposta"), QString() },
        { {}, {}, { QStringLiteral("read"), QStringLiteral("--port"), path(QStringLiteral("no-such-port")), QStringLiteral("-o"), path(QStringLiteral("x.dat")) },
          3, QStringLiteral("Serial error: "), QString() },
        // The line stops taking a plain write: where it stopped, and the box keeps its own table.
        { { "--model", "1", "--fault", "stall-write:100" }, {}, { QStringLiteral("write"), k22, QStringLiteral("--port"), P },
          3, QStringLiteral("Scrittura interrotta all'associazione"), k1 },
        { { "--fault", "silent" }, {}, { QStringLiteral("write"), path(QStringLiteral("bad.dat")), QStringLiteral("--port"), P },
          4, QStringLiteral("Associazione 1"), QString() },
        { {}, {}, { QStringLiteral("import"), path(QStringLiteral("names.csv")), QStringLiteral("-o"), path(QStringLiteral("x.dat")) },
          4, QStringLiteral("le colonne devono essere"), QString() },
        { {}, {}, { QStringLiteral("show"), path(QStringLiteral("none.dat")) }, 5, QStringLiteral("none.dat"), QString() },
        // Byte 6 of association 10, unused: it reads as "-" whatever it holds,
        // so only the bytes themselves show the box's fault.
        { { "--fault", "corrupt-store:165" }, { QStringLiteral("write"), k22, QStringLiteral("--port"), P },
          { QStringLiteral("verify"), k22, QStringLiteral("--port"), P }, 1, QStringLiteral("Associazione 10, byte 6: 0x00 -> 0x01"),
          QString() },
    };
    static_assert(sizeof(cases) / sizeof(cases[0]) == ExitCodeCases, "every row is instantiated below");
    {
        const Case& k = cases[GetParam()];
        SCOPED_TRACE(k.arguments.join(QLatin1Char(' ')).toStdString());
        BoxSim sim;
        if (!k.box.empty()) {
            std::vector<std::string> options{ "--fast" };
            options.insert(options.end(), k.box.begin(), k.box.end());
            ASSERT_TRUE(sim.start(options)) << sim.error();
        }
        auto withPort = [&](QStringList arguments) {
            arguments.replaceInStrings(QRegularExpression(QStringLiteral("^PORT$")), k.box.empty() ? QString() : dev(sim));
            return arguments;
        };
        if (!k.before.isEmpty()) {
            ASSERT_EQ(tool(withPort(k.before)).code, 0);
        }
        const Outcome run = tool(withPort(k.arguments));
        EXPECT_EQ(run.code, k.code) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(k.words) || text(run.out).contains(k.words)) << run.err.toStdString() << run.out.toStdString();
        if (!k.boxStillHolds.isEmpty()) {
            ASSERT_EQ(tool({ QStringLiteral("read"), QStringLiteral("--port"), dev(sim), QStringLiteral("-o"), path(QStringLiteral("after.dat")) }).code, 0);
            EXPECT_EQ(fileBytes(path(QStringLiteral("after.dat"))), fileBytes(k.boxStillHolds));
        }
    }
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("x.dat"))));
}
INSTANTIATE_TEST_SUITE_P(Rows, ToolExitCodes, ::testing::Range(0, ExitCodeCases));

// pradix-tool's remote write of `table` to a customer's number; the port is added by the caller.
QStringList remoteWrite(const QString& table)
{
    return { QStringLiteral("remote"), QStringLiteral("write"), table, QStringLiteral("--number"), QStringLiteral("0461123456") };
}

TEST_F(ToolTest, RemoteWriteRefusedByTheBoxHangsUp)
{
    const QString table = sampleTable(boxsim::Model::Kolvar22, QStringLiteral("box.dat"));
    BoxSim refusing;
    ASSERT_TRUE(refusing.start({ "--fast", "--unit", "--need-dial", "--reply-error", "--log", refusing.file("unit.log") })) << refusing.error();
    const Outcome run = tool(remoteWrite(table) + QStringList{ QStringLiteral("--port"), dev(refusing), QStringLiteral("--prefix"), QStringLiteral("0") });
    EXPECT_EQ(run.code, 3);
    EXPECT_TRUE(run.err.contains(QStringLiteral("ERRORE!!"))) << run.err.toStdString();
    EXPECT_EQ(frames(refusing.readLog()),
              (QStringList{ QStringLiteral("dial"), QStringLiteral("dial"), QStringLiteral("write"), QStringLiteral("table"),
                            QStringLiteral("remote-write"), QStringLiteral("hangup") }));
}

TEST_F(ToolTest, RemoteWriteHeldOnTheLineHangsUp)
{
    // The line held part-way through the table: the port is closed and at once opened
    // again for the hang-up, which the unit must still hear; 02 01 06 never goes.
    const QString table = sampleTable(boxsim::Model::Kolvar22, QStringLiteral("box.dat"));
    BoxSim holding;
    ASSERT_TRUE(holding.start({ "--fast", "--unit", "--need-dial", "--fault", "stall-write:100", "--log", holding.file("unit.log") }))
        << holding.error();
    const Outcome run = tool(remoteWrite(table) + QStringList{ QStringLiteral("--port"), dev(holding), QStringLiteral("--timeout"), QStringLiteral("1") });
    EXPECT_EQ(run.code, 3);
    EXPECT_TRUE(run.err.contains(QStringLiteral("Scrittura interrotta"))) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains(QStringLiteral("02 03 03 02 02"))) << run.err.toStdString();
    EXPECT_EQ(frames(holding.readLog()), (QStringList{ QStringLiteral("dial"), QStringLiteral("write"), QStringLiteral("hangup") }));
}

TEST_F(ToolTest, RemoteWriteTakenHangsUpAndTheBoxHoldsIt)
{
    const QString table = sampleTable(boxsim::Model::Kolvar22, QStringLiteral("box.dat"));
    BoxSim taking;
    ASSERT_TRUE(taking.start({ "--fast", "--unit", "--need-dial", "--log", taking.file("unit.log") })) << taking.error();
    const Outcome run = tool(remoteWrite(table) + QStringList{ QStringLiteral("--port"), dev(taking) });
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(frames(taking.readLog()), (QStringList{ QStringLiteral("dial"), QStringLiteral("write"), QStringLiteral("table"),
                                                      QStringLiteral("remote-write"), QStringLiteral("hangup") }));
    // The unit answers the box's own read too: the box holds what the plan sent.
    EXPECT_EQ(tool({ QStringLiteral("verify"), table, QStringLiteral("--port"), dev(taking) }).code, 0);
}

TEST_F(ToolTest, RemoteReadSavesTheTableToTheCardUnlessAWindowHoldsTheBook)
{
    CustomerCard rossi;
    rossi.setText(CustomerCard::Field::Cognome, QStringLiteral("ROSSI"));
    rossi.setText(CustomerCard::Field::Numero, QStringLiteral("0461123456"));
    const QString book = path(QStringLiteral("RUBRICA.DAT"));
    writeFile(book, QByteArray(reinterpret_cast<const char*>(rossi.data()), CustomerCard::Size));
    BoxSim unit;
    ASSERT_TRUE(unit.start({ "--fast", "--unit", "--need-dial", "--log", unit.file("unit.log") })) << unit.error();
    const QStringList session{ QStringLiteral("remote"), QStringLiteral("read"), QStringLiteral("--port"), dev(unit), QStringLiteral("--card"),
                               QStringLiteral("1"), QStringLiteral("-o"), path(QStringLiteral("remote.dat")), QStringLiteral("--save-to-card") };

    // A running window holds the writer's lock: refused before anything is dialled.
    const int held = ::open(QFile::encodeName(book).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    Outcome run = tool(session);
    ::close(held);
    EXPECT_EQ(run.code, 5);
    EXPECT_TRUE(run.err.contains(QStringLiteral("già aperta in un altro programma Pradix"))) << run.err.toStdString();
    EXPECT_TRUE(frames(unit.readLog()).isEmpty());

    run = tool(session);
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(frames(unit.readLog()), (QStringList{ QStringLiteral("dial"), QStringLiteral("remote-read"), QStringLiteral("hangup") }));
    EXPECT_EQ(fileBytes(path(QStringLiteral("remote.dat"))), fileBytes(sampleTable(boxsim::Model::Kolvar22, QStringLiteral("expected.dat"))));
    const Outcome card = tool({ QStringLiteral("book"), QStringLiteral("show"), QStringLiteral("1"), QStringLiteral("--table"), QStringLiteral("-o"), path(QStringLiteral("card.dat")) });
    ASSERT_EQ(card.code, 0) << card.err.toStdString();
    EXPECT_EQ(fileBytes(path(QStringLiteral("card.dat"))), fileBytes(path(QStringLiteral("remote.dat"))));
}

// Ctrl+C or SIGTERM in the middle of a call: the frame in progress went out
// whole, the hang-up follows it before the tool ends, and the exit code says
// which signal stopped it.
TEST_F(ToolTest, RemoteSessionStoppedBySignalHangsUpBeforeEnding)
{
    realWaits_ = true; // the signal comes during the outside line's wait
    for (const auto& [signal, code] : { std::pair{ SIGINT, 130 }, std::pair{ SIGTERM, 143 } }) {
        BoxSim unit;
        ASSERT_TRUE(unit.start({ "--fast", "--unit", "--need-dial", "--log", unit.file("unit.log") })) << unit.error();
        QProcess process;
        prepare(process);
        process.start(QStringLiteral(PRADIX_TOOL_PATH),
                      { QStringLiteral("remote"), QStringLiteral("read"), QStringLiteral("--port"), dev(unit), QStringLiteral("--number"),
                        QStringLiteral("0461123456"), QStringLiteral("--prefix"), QStringLiteral("0"), QStringLiteral("-o"),
                        path(QStringLiteral("stopped.dat")) });
        ASSERT_TRUE(process.waitForStarted());
        // The prefix reached the unit; the outside line's wait has begun.
        for (int i = 0; i < 400 && frames(unit.readLog()).isEmpty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        ASSERT_EQ(frames(unit.readLog()), QStringList{ QStringLiteral("dial") });
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), code) << process.readAllStandardError().toStdString();
        EXPECT_EQ(frames(unit.readLog()), (QStringList{ QStringLiteral("dial"), QStringLiteral("hangup") })) << signal;
        EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("stopped.dat"))));
    }
}

} // namespace

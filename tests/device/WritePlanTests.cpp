#include "device/WritePlan.h"

#include "GridText.h"

#include <gtest/gtest.h>

namespace {

using writeplan::Field;

const QString kolvar22Header = QStringLiteral("U#A#0461#-----B0----------");

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

QByteArray joined(const std::vector<writeplan::Piece>& pieces, std::size_t from = 0, std::size_t count = SIZE_MAX)
{
    QByteArray all;
    for (std::size_t i = from; i < pieces.size() && i - from < count; ++i)
        all += pieces[i].bytes;
    return all;
}

std::vector<int> sizes(const std::vector<writeplan::Piece>& pieces, std::size_t from, std::size_t count)
{
    std::vector<int> out;
    for (std::size_t i = from; i < from + count && i < pieces.size(); ++i)
        out.push_back(int(pieces[i].bytes.size()));
    return out;
}

// Associations 1 to 3: the sample; one with no carrier; one whose carrier ends
// with the end mark.
TableGrid kolvar22Table()
{
    TableGrid grid = freshGrid();
    setRowText(grid, 1, kolvar22Header);
    setRowText(grid, 2, sampleKolvar22);
    setRowText(grid, 3, QStringLiteral("02****--------000024000*0#"));
    setRowText(grid, 4, QStringLiteral("5*****123#****------------"));
    return grid;
}

writeplan::EditorState editorOn(int selector, const QString& dayType, const QString& line)
{
    writeplan::EditorState state;
    state.selector = selector;
    state.dayType = dayType;
    state.line = line;
    return state;
}

TEST(WritePlan, AValidTableGoesOutByteForByteAndOnlyTheLoopsOwnChangesAreLeft)
{
    const TableGrid table = kolvar22Table();
    // The editor shows association 1 as the selector says, as after a read.
    const writeplan::Plan check = writeplan::plan(table, editorOn(1, QStringLiteral("Feriale"), QStringLiteral("1")));
    ASSERT_TRUE(check.ok()) << check.message.toStdString();
    EXPECT_TRUE(check.message.isEmpty());

    EXPECT_EQ(check.pieces[1].bytes, hex("55 0C 01 0C 0A 04 06 01 0C 00 00 00 00 00 01 0A"));
    // Prefix, four carrier bytes, then times and the four tail bytes, or six zeros after an end mark.
    EXPECT_EQ(sizes(check.pieces, 2, 8), (std::vector<int>{ 6, 1, 1, 1, 1, 1, 1, 4 }));
    EXPECT_EQ(joined(check.pieces, 2, 8), hex("03 09 0B 0B 0B 0B 1A 55 BB BB 11 1A 01 0B 01 0C"));
    EXPECT_EQ(joined(check.pieces, 10, 8), hex("0A 02 0B 0B 0B 0B BB BB BB BB 00 30 0A 0B 0A 0C"));
    EXPECT_EQ(sizes(check.pieces, 18, 6), (std::vector<int>{ 6, 1, 1, 1, 1, 6 }));
    EXPECT_EQ(joined(check.pieces, 18, 6), hex("05 0B 0B 0B 0B 0B 12 3C BB BB 00 00 00 00 00 00"));
    ASSERT_EQ(check.pieces.size(), 2u + 8 + 8 + 6 + 124);
    EXPECT_EQ(joined(check.pieces, 24), QByteArray(124 * 16, '\0')) << "unused rows: sixteen zeros in one piece";

    // The carrier fix-up stays in the grid, and nothing else changed; the
    // editor ends on association 1.
    TableGrid expected = kolvar22Table();
    setRowText(expected, 3, QStringLiteral("********"), 7);
    EXPECT_TRUE(check.grid.dataEquals(expected)) << rowText(check.grid, 3).toStdString();
    EXPECT_EQ(check.editor.selector, 1);
    EXPECT_EQ(check.editor.dayType, QStringLiteral("Feriale"));
    EXPECT_EQ(check.editor.line, QStringLiteral("1"));

    // The table handed in is untouched.
    EXPECT_TRUE(table.dataEquals(kolvar22Table()));
}

TEST(WritePlan, DayAndLineBoxesMendAMissingSeparatorOnlyWhenTheirTextChanges)
{
    // Association 2 has lost its separator and terminator (a decoded byte
    // that was not 11 or 12 leaves the cell empty).
    TableGrid table = kolvar22Table();
    table.setCell(23, 3, '2');
    table.setCell(24, 3, QString());
    table.setCell(26, 3, QString());

    // Its day type and line differ from association 1's, so the boxes change
    // and their rules write "*" and "#" before it is encoded.
    writeplan::Plan check = writeplan::plan(table, editorOn(1, QStringLiteral("Feriale"), QStringLiteral("1")));
    ASSERT_TRUE(check.ok()) << check.message.toStdString();
    EXPECT_EQ(rowText(check.grid, 3, 23), QStringLiteral("2*0#"));
    EXPECT_EQ(joined(check.pieces, 10, 8).right(4), hex("02 0B 0A 0C"));

    // The same day type as association 1: the box does not change, nothing
    // is written, and the separator is missing.
    table.setCell(23, 3, '1');
    check = writeplan::plan(table, editorOn(1, QStringLiteral("Feriale"), QStringLiteral("1")));
    EXPECT_FALSE(check.ok());
    EXPECT_EQ(check.association, 2);
    EXPECT_EQ(check.field, Field::Separator);
    EXPECT_EQ(check.message, QStringLiteral("Associazione 2: separatore mancante"));

    // Day type mended by the box, the terminator with the line unchanged is not.
    table.setCell(23, 3, '2');
    table.setCell(25, 3, '1');
    check = writeplan::plan(table, editorOn(1, QStringLiteral("Feriale"), QStringLiteral("1")));
    EXPECT_EQ(check.message, QStringLiteral("Associazione 2: terminatore mancante"));
}

TEST(WritePlan, AssociationOneIsReloadedOnlyWhenTheSelectorShowsAnother)
{
    TableGrid table = kolvar22Table();
    table.setCell(24, 2, '-');

    // The selector already shows 1: the editor is not filled again and its
    // day-type box still reads "Feriale", so nothing mends the separator.
    writeplan::Plan check = writeplan::plan(table, editorOn(1, QStringLiteral("Feriale"), QStringLiteral("1")));
    EXPECT_EQ(check.message, QStringLiteral("Associazione 1: separatore mancante"));

    // From association 5 (an empty one: empty boxes) the step to 1 fills the
    // boxes, the day type changes and its rule writes the separator.
    check = writeplan::plan(table, editorOn(5, QString(), QString()));
    ASSERT_TRUE(check.ok()) << check.message.toStdString();
    EXPECT_EQ(check.grid.cell(24, 2), QStringLiteral("*"));
    EXPECT_EQ(check.editor.selector, 1);
}

TEST(WritePlan, CellsThatCannotBeEncodedAreNamedByAssociationAndField)
{
    TableGrid table = kolvar22Table();
    setRowText(table, 13, QStringLiteral("0612**345*****080013??1*1#"));
    writeplan::Plan check = writeplan::plan(table, editorOn(1, QStringLiteral("Feriale"), QStringLiteral("1")));
    EXPECT_EQ(check.association, 12);
    EXPECT_EQ(check.field, Field::EndTime);
    EXPECT_EQ(check.message, QStringLiteral("Associazione 12: ora di fine non valida"));

    table = kolvar22Table();
    table.setCell(3, 2, QStringLiteral("x"));
    EXPECT_EQ(writeplan::plan(table, {}).message, QStringLiteral("Associazione 1: prefisso non valido"));

    table = kolvar22Table();
    table.setCell(3, 1, QString());
    check = writeplan::plan(table, {});
    EXPECT_EQ(check.association, 0);
    EXPECT_EQ(check.message, QStringLiteral("Intestazione: gestione non valida"));
    table.setCell(3, 1, 'M');
    table.setCell(7, 1, QStringLiteral("?"));
    EXPECT_EQ(writeplan::plan(table, {}).message, QStringLiteral("Intestazione: prefisso locale non valido"));

    // No model: not even the header would be worth sending.
    table = kolvar22Table();
    table.setCell(1, 1, '-');
    check = writeplan::plan(table, {});
    EXPECT_EQ(check.field, Field::Model);
    EXPECT_EQ(check.message, QStringLiteral("Nessun modello selezionato: leggere la centralina, caricare un file o scegliere il modello dal menu"));
    EXPECT_TRUE(check.pieces.empty());
}

TEST(WritePlan, Kolvar1RecordsGoOutWholeAndTheirCodeIsChecked)
{
    TableGrid table = freshGrid();
    setRowText(table, 1, QStringLiteral("Y#M#0461#-----------------"));
    setRowText(table, 2, QStringLiteral("39*41#--------------------"));
    // No day or line box may write into a Kolvar1 row, whatever they show.
    writeplan::Plan check = writeplan::plan(table, editorOn(7, QStringLiteral("Festivo"), QStringLiteral("2")));
    ASSERT_TRUE(check.ok()) << check.message.toStdString();
    ASSERT_EQ(check.pieces.size(), 129u);
    EXPECT_EQ(check.pieces[2].bytes, hex("03 09 0B 04 01 0C 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_TRUE(check.grid.dataEquals(table));

    table.setCell(5, 2, QStringLiteral("A"));
    check = writeplan::plan(table, {});
    EXPECT_EQ(check.message, QStringLiteral("Associazione 1: gestore non valido"));
}

// Where the line stopped, in the operator's words: the window and the tool
// show these texts as they stand.
TEST(WritePlan, ACutShortWriteSaysWhereTheLineStopped)
{
    using Piece = writeplan::StopPoint::Piece;
    const QString rest = QStringLiteral(": la centralina ha ricevuto solo parte della tabella, che va scritta di nuovo");
    EXPECT_EQ(writeplan::cutShortMessage({ Piece::Request, 0 }), QStringLiteral("Scrittura interrotta all'inizio") + rest);
    EXPECT_EQ(writeplan::cutShortMessage({ Piece::Header, 0 }), QStringLiteral("Scrittura interrotta all'intestazione") + rest);
    EXPECT_EQ(writeplan::cutShortMessage({ Piece::Association, 127 }),
              QStringLiteral("Scrittura interrotta all'associazione 127") + rest);
    EXPECT_EQ(writeplan::cutShortMessage({ Piece::Clock, 0 }), QStringLiteral("Scrittura interrotta all'orologio") + rest);
}

} // namespace

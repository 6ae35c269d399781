#include "editor/FieldRules.h"
#include "GridText.h"

#include <gtest/gtest.h>

using codec::Model;
using fields::KeyFilter;
using fields::KeyVerdict;

TEST(KeyFilters, EachBoxLetsThroughItsOwnCharacters)
{
    const QChar backspace(8), enter(13), escape(27), pasteKey(0x16);
    for (QChar c : { QChar(u'0'), QChar(u'5'), QChar(u'9'), backspace })
        EXPECT_EQ(fields::filterKey(KeyFilter::Digits, c), KeyVerdict::Accept) << c.unicode();
    for (QChar c : { QChar(u'a'), QChar(u'*'), QChar(u'#'), QChar(u' '), enter, escape, pasteKey, QChar(0x0663) })
        EXPECT_EQ(fields::filterKey(KeyFilter::Digits, c), KeyVerdict::Drop) << c.unicode();

    EXPECT_EQ(fields::filterKey(KeyFilter::LocalPrefix, enter), KeyVerdict::Accept);
    EXPECT_EQ(fields::filterKey(KeyFilter::LocalPrefix, backspace), KeyVerdict::Accept);
    EXPECT_EQ(fields::filterKey(KeyFilter::LocalPrefix, QChar(u'7')), KeyVerdict::Accept);
    EXPECT_EQ(fields::filterKey(KeyFilter::LocalPrefix, QChar(u'x')), KeyVerdict::Drop);

    for (QChar c : { QChar(u'0'), backspace, QChar(u'a') })
        EXPECT_EQ(fields::filterKey(KeyFilter::Refuse, c), KeyVerdict::Drop);

    for (QChar c : { QChar(u'0'), QChar(u'1'), QChar(u'2') })
        EXPECT_EQ(fields::filterKey(KeyFilter::Line, c), KeyVerdict::Accept);
    // Even Backspace types a "0" in the line box.
    for (QChar c : { QChar(u'3'), QChar(u'5'), QChar(u'a'), backspace })
        EXPECT_EQ(fields::filterKey(KeyFilter::Line, c), KeyVerdict::TypeZero);

    EXPECT_EQ(fields::filterKey(KeyFilter::Any, QChar(u'x')), KeyVerdict::Accept);
}

TEST(HeaderRules, ManagementWritesModeAndSeparators)
{
    TableGrid grid = freshGrid();
    editor::managementChanged(grid, QStringLiteral("Automatica"));
    EXPECT_EQ(rowText(grid, 1, 1, 5), QStringLiteral("-#A#-"));
    for (const QString& text : { QStringLiteral("Manuale"), QString(), QStringLiteral("automatica") }) {
        editor::managementChanged(grid, text);
        EXPECT_EQ(rowText(grid, 1, 2, 4), QStringLiteral("#M#")) << text.toStdString();
    }
}

TEST(HeaderRules, LocalPrefixKeepsBeepAndFlash)
{
    TableGrid grid = freshGrid();
    editor::beepFlashClicked(grid, true, false);
    EXPECT_EQ(rowText(grid, 1, 15, 16), QStringLiteral("B0"));
    editor::localPrefixReleased(grid, QStringLiteral("0461"));
    EXPECT_EQ(rowText(grid, 1, 5, 26), QStringLiteral("0461#-----B0----------"));
    EXPECT_EQ(rowText(grid, 1, 1, 4), QStringLiteral("----"));

    editor::beepFlashClicked(grid, false, true);
    editor::localPrefixReleased(grid, QString());
    EXPECT_EQ(rowText(grid, 1, 5, 26), QStringLiteral("#---------0F----------"));

    // A prefix longer than the box lets anyone type (the program's own fill)
    // still stops before beep and flash.
    editor::localPrefixReleased(grid, QStringLiteral("123456789012345678901234"));
    EXPECT_EQ(rowText(grid, 1, 5, 26), QStringLiteral("12345678900F----------"));
}

TEST(AssociationRules, Kolvar22Prefix)
{
    TableGrid grid = freshGrid();
    editor::prefixReleased(grid, 6, QStringLiteral("39"), Model::Kolvar22);
    EXPECT_EQ(rowText(grid, 6), QStringLiteral("39****--------------------"));
    // Erasing the prefix does not empty the association.
    editor::prefixReleased(grid, 6, QString(), Model::Kolvar22);
    EXPECT_EQ(rowText(grid, 6), QStringLiteral("******--------------------"));
    // Six "-" copied into the box go back as they are; more never reach the code.
    editor::prefixReleased(grid, 6, QStringLiteral("12345678"), Model::Kolvar22);
    EXPECT_EQ(rowText(grid, 6), QStringLiteral("123456--------------------"));
}

TEST(AssociationRules, Kolvar22CodeAndNewAssociationDefaults)
{
    TableGrid grid = freshGrid();
    editor::prefixReleased(grid, 2, QStringLiteral("39"), Model::Kolvar22);
    EXPECT_TRUE(editor::codeReleased(grid, 2, QString(), QStringLiteral("39"), Model::Kolvar22).defaults);
    // Line cells keep their "-" until the line is chosen.
    EXPECT_EQ(rowText(grid, 2), QStringLiteral("39************000024000*--"));

    EXPECT_FALSE(editor::codeReleased(grid, 2, QStringLiteral("1055"), QStringLiteral("39"), Model::Kolvar22).defaults);
    EXPECT_EQ(rowText(grid, 2), QStringLiteral("39****1055****000024000*--"));

    // Eight characters fill the code exactly; more never reach the times.
    editor::codeReleased(grid, 2, QStringLiteral("1234567890"), QString(), Model::Kolvar22);
    EXPECT_EQ(rowText(grid, 2, 7, 15), QStringLiteral("123456780"));
}

TEST(AssociationRules, Kolvar1EmptyCodeAndEmptyPrefix)
{
    TableGrid grid = freshGrid();
    setRowText(grid, 9, QStringLiteral("391*41#"));
    // An empty code leaves the "#" right after the "*".
    editor::codeReleased(grid, 9, QString(), QStringLiteral("391"), Model::Kolvar1);
    EXPECT_EQ(rowText(grid, 9), QStringLiteral("391*#---------------------"));
    EXPECT_FALSE(editor::codeReleased(grid, 9, QString(), QString(), Model::Kolvar1).defaults);
    editor::prefixReleased(grid, 9, QString(), Model::Kolvar1);
    EXPECT_EQ(rowText(grid, 9), QString(26, QLatin1Char('-')));
}

TEST(AssociationRules, Kolvar1LongTextsStopAtTheLastColumn)
{
    TableGrid grid = freshGrid();
    const QString prefix(24, QLatin1Char('1'));
    editor::prefixReleased(grid, 128, prefix, Model::Kolvar1);
    editor::codeReleased(grid, 128, QStringLiteral("98765"), prefix, Model::Kolvar1);
    EXPECT_EQ(rowText(grid, 128), prefix + QStringLiteral("*9"));
    editor::prefixReleased(grid, 128, QString(40, QLatin1Char('2')), Model::Kolvar1);
    EXPECT_EQ(rowText(grid, 128), QString(26, QLatin1Char('2')));
}

TEST(AssociationRules, NoModelNoWrite)
{
    TableGrid grid = freshGrid();
    const TableGrid before = grid;
    editor::prefixReleased(grid, 2, QStringLiteral("39"), Model::None);
    EXPECT_FALSE(editor::codeReleased(grid, 2, QString(), QStringLiteral("39"), Model::None).defaults);
    editor::codeReleased(grid, 2, QStringLiteral("1"), QStringLiteral("39"), Model::None);
    EXPECT_TRUE(grid.dataEquals(before));
}

TEST(AssociationRules, TimesUpTo2400)
{
    TableGrid grid = freshGrid();
    auto release = [&](const QString& text) { return editor::timeReleased(grid, 4, text, editor::StartTimeColumn); };

    editor::TimeResult r = release(QStringLiteral("2401"));
    EXPECT_TRUE(r.clearBox && r.beep);
    EXPECT_EQ(rowText(grid, 4, 15, 18), QStringLiteral("****"));

    r = release(QStringLiteral("2400"));
    EXPECT_FALSE(r.clearBox || r.beep);
    EXPECT_EQ(rowText(grid, 4, 15, 18), QStringLiteral("2400"));

    release(QStringLiteral("1299")); // no rule limits the minutes
    EXPECT_EQ(rowText(grid, 4, 15, 18), QStringLiteral("1299"));

    release(QStringLiteral("9"));
    EXPECT_EQ(rowText(grid, 4, 15, 18), QStringLiteral("9???"));

    release(QString());
    EXPECT_EQ(rowText(grid, 4, 15, 18), QStringLiteral("****"));

    // The end time has its own four cells.
    editor::timeReleased(grid, 4, QStringLiteral("13"), editor::EndTimeColumn);
    EXPECT_EQ(rowText(grid, 4, 14, 23), QStringLiteral("-****13?" "?-"));
}

TEST(AssociationRules, TimeBoxWithNonDigitsOrOddNumbers)
{
    TableGrid grid = freshGrid();
    setRowText(grid, 4, QStringLiteral("0830"), 15);
    for (const QString& text : { QStringLiteral("****"), QStringLiteral("----"), QStringLiteral("08?0"),
                                 QStringLiteral("-1") }) {
        const editor::TimeResult r = editor::timeReleased(grid, 4, text, editor::StartTimeColumn);
        EXPECT_FALSE(r.clearBox || r.beep) << text.toStdString();
        EXPECT_EQ(rowText(grid, 4, 15, 18), QStringLiteral("0830")) << text.toStdString();
    }
    // Leading zeros make a long text but a small number: it stays in its four cells.
    editor::timeReleased(grid, 4, QStringLiteral("000001"), editor::StartTimeColumn);
    EXPECT_EQ(rowText(grid, 4, 15, 19), QStringLiteral("0000-"));
    // A number too big for any integer is still above 2400.
    const editor::TimeResult r
        = editor::timeReleased(grid, 4, QStringLiteral("99999999999999999999"), editor::StartTimeColumn);
    EXPECT_TRUE(r.clearBox && r.beep);
}

TEST(AssociationRules, DayTypeAndLine)
{
    TableGrid grid = freshGrid();
    // Partial words write only the separator.
    editor::dayTypeChanged(grid, 2, QStringLiteral("Sem"));
    EXPECT_EQ(rowText(grid, 2, 23, 24), QStringLiteral("-*"));
    editor::dayTypeChanged(grid, 2, QStringLiteral("Sempre"));
    EXPECT_EQ(rowText(grid, 2, 23, 24), QStringLiteral("0*"));
    editor::dayTypeChanged(grid, 2, QStringLiteral("Festivo"));
    EXPECT_EQ(grid.cell(23, 2), QStringLiteral("2"));
    editor::dayTypeChanged(grid, 2, QStringLiteral("Feriale"));
    EXPECT_EQ(grid.cell(23, 2), QStringLiteral("1"));

    TableGrid empty = freshGrid();
    editor::dayTypeChanged(empty, 2, QString());
    editor::lineChanged(empty, 2, QString());
    EXPECT_TRUE(empty.dataEquals(freshGrid()));

    editor::lineChanged(grid, 2, QStringLiteral("12"));
    EXPECT_EQ(rowText(grid, 2, 25, 26), QStringLiteral("-#"));
    editor::lineChanged(grid, 2, QStringLiteral("2"));
    EXPECT_EQ(rowText(grid, 2, 25, 26), QStringLiteral("2#"));
}

TEST(AssociationRules, NoAssociationSelectedWritesNoCell)
{
    TableGrid grid = freshGrid();
    setRowText(grid, 1, QStringLiteral("U#A#"));
    const TableGrid before = grid;
    // Row 0 is what the rules get for a selector at 0; 1 and 129 are no association either.
    for (int row : { 0, 1, 129, -1 }) {
        editor::prefixReleased(grid, row, QStringLiteral("39"), Model::Kolvar22);
        editor::prefixReleased(grid, row, QString(), Model::Kolvar1);
        EXPECT_TRUE(editor::codeReleased(grid, row, QString(), QStringLiteral("3"), Model::Kolvar22).defaults);
        editor::codeReleased(grid, row, QStringLiteral("4"), QString(), Model::Kolvar1);
        editor::codeReleased(grid, row, QStringLiteral("4"), QStringLiteral("3"), Model::Kolvar1);
        const editor::TimeResult t = editor::timeReleased(grid, row, QStringLiteral("2500"), editor::EndTimeColumn);
        EXPECT_TRUE(t.clearBox && t.beep); // the box still refuses the time
        editor::timeReleased(grid, row, QStringLiteral("12"), editor::StartTimeColumn);
        editor::dayTypeChanged(grid, row, QStringLiteral("Sempre"));
        editor::lineChanged(grid, row, QStringLiteral("1"));
        editor::clearAssociation(grid, row);
    }
    EXPECT_TRUE(grid.dataEquals(before));
}

TEST(Buttons, StepThroughTheirValues)
{
    EXPECT_EQ(editor::nextManagement(QString()), QStringLiteral("Automatica"));
    EXPECT_EQ(editor::nextManagement(QStringLiteral("Automatica")), QStringLiteral("Manuale"));
    EXPECT_EQ(editor::nextManagement(QStringLiteral("Manuale")), QStringLiteral("Automatica"));

    EXPECT_EQ(editor::nextPort(QStringLiteral("Com2")), QStringLiteral("Com1"));
    EXPECT_EQ(editor::nextPort(QStringLiteral("Com1")), QStringLiteral("Com2"));
    EXPECT_EQ(editor::nextPort(QStringLiteral("/dev/ttyUSB0")), QStringLiteral("Com2"));

    EXPECT_EQ(editor::nextDayType(QString()), QStringLiteral("Sempre"));
    EXPECT_EQ(editor::nextDayType(QStringLiteral("Sempre")), QStringLiteral("Festivo"));
    EXPECT_EQ(editor::nextDayType(QStringLiteral("Festivo")), QStringLiteral("Feriale"));
    EXPECT_EQ(editor::nextDayType(QStringLiteral("Feriale")), QStringLiteral("Sempre"));

    EXPECT_EQ(editor::nextLine(QString()), QStringLiteral("0"));
    EXPECT_EQ(editor::nextLine(QStringLiteral("0")), QStringLiteral("1"));
    EXPECT_EQ(editor::nextLine(QStringLiteral("1")), QStringLiteral("2"));
    EXPECT_EQ(editor::nextLine(QStringLiteral("2")), QStringLiteral("0"));
}

// The windows' line log against the box simulator: what went over the line
// is in the log, in order, under the button that started it, and a log that
// cannot be written stops nothing.

#include "tests/gui/FakeSeams.h"

#include "BoxSim.h"

#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <fstream>

namespace {

// The windows are built with XDG_STATE_HOME on a fresh folder, or on a
// regular file where the folder should be, which no one can write into.
struct StateHome
{
    explicit StateHome(bool writable)
    {
        if (!writable)
            QFile(home).open(QIODevice::WriteOnly);
        qputenv("XDG_STATE_HOME", QFile::encodeName(home));
    }
    ~StateHome() { qputenv("XDG_STATE_HOME", saved); }

    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    QTemporaryDir dir;
    const QString home = dir.filePath(QStringLiteral("state"));
};

struct LogFixture : StateHome, Fixture
{
    explicit LogFixture(std::vector<std::string> arguments, bool writable = true)
        : StateHome(writable)
    {
        // A Kolvar22 with an empty table.
        image[0] = 'U';
        std::copy_n("LOGBOX          ", 16, image.begin() + 2051);
        std::ofstream(sim.file("box.img"), std::ios::binary).write(image.data(), std::streamsize(image.size()));
        arguments.insert(arguments.end(), { "--image", sim.file("box.img"), "--save", sim.file("saved.img") });
        EXPECT_TRUE(sim.start(arguments)) << sim.error();
        ui.EditDevName->setText(QString::fromStdString(sim.devicePath()));
    }
    // The log's lines: a time stamp of 23 characters, a blank, the entry.
    QStringList lines()
    {
        window.lineLog().flush();
        QFile log(home + QStringLiteral("/pradix/line.log"));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts) : QStringList();
    }

    std::string image = std::string(2067, '\0');
    BoxSim sim;
};

// The bytes of the lines that start with `direction` ('>' written, '<' read)
// from the action's line to the port's close; `count` counts those lines.
QByteArray bytesOf(const QStringList& lines, const QString& action, char direction, int* count = nullptr)
{
    int i = int(lines.indexOf(QRegularExpression(QStringLiteral(".{24}== ") + action)));
    QByteArray bytes;
    for (; i >= 0 && i < lines.size() && lines[i].mid(24) != QStringLiteral("-- chiusa"); ++i)
        if (lines[i].mid(24).startsWith(QLatin1Char(direction) + QStringLiteral(" "))) {
            bytes += QByteArray::fromHex(lines[i].mid(26).toLatin1());
            if (count)
                ++*count;
        }
    return i < 0 || i >= lines.size() ? QByteArray("never closed") : bytes;
}

} // namespace

TEST(LineLogWindow, AReadAndAWriteLeaveTheirBytesInOrderWithTheirTimes)
{
    LogFixture f({}); // at the pace of the line: the table comes in many chunks
    f.read();
    QTest::mouseClick(f.ui.Button4, Qt::LeftButton);
    ASSERT_TRUE(f.idle());
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.sim.readSaved().size() == 2067; }, 5000));
    const QStringList lines = f.lines();
    for (int i = 1; i < lines.size(); ++i)
        ASSERT_LE(lines[i - 1].left(23), lines[i].left(23)) << lines[i].toStdString();

    int chunks = 0;
    EXPECT_EQ(bytesOf(lines, QStringLiteral("Leggi Eeprom"), '>'), QByteArray("\x02\x01\x01", 3));
    EXPECT_EQ(bytesOf(lines, QStringLiteral("Leggi Eeprom"), '<', &chunks).toHex().toStdString(),
              QByteArray::fromStdString(f.image).toHex().toStdString());
    EXPECT_GT(chunks, 1);
    // Each piece of the write on a line of its own, as the box received them.
    const std::vector<std::uint8_t> saved = f.sim.readSaved();
    int pieces = 0;
    EXPECT_EQ(bytesOf(lines, QStringLiteral("Scrivi Eeprom"), '>', &pieces).toHex().toStdString(),
              (QByteArray("\x02\x01\x02", 3) + QByteArray(reinterpret_cast<const char*>(saved.data()), 2051)).toHex().toStdString());
    EXPECT_EQ(pieces, 1 + 1 + 127 + 3);
    EXPECT_TRUE(f.dialogs.shown.isEmpty());

    // A port that does not open leaves its message.
    f.ui.EditDevName->setText(f.home + QStringLiteral("/gone"));
    QTest::mouseClick(f.ui.ButtonTransmit, Qt::LeftButton);
    EXPECT_TRUE(f.lines().constLast().contains(QStringLiteral("-- non aperta %1/gone: ").arg(f.home)));
}

TEST(LineLogWindow, ALogThatCannotBeWrittenStopsNoReadIsToldOnceAndTriedAgainAtTheNextButton)
{
    LogFixture f({ "--fast" }, false);
    for (int i = 0; i < 3; ++i) {
        if (i == 2) {
            ASSERT_TRUE(QFile::remove(f.home)); // the operator mends the folder
        }
        f.window.grid().fillData(QStringLiteral("-"));
        f.read();
        EXPECT_EQ(f.window.grid().cell(1, 1), QStringLiteral("U"));
        EXPECT_EQ(f.ui.Label11->text(), QStringLiteral("LOGBOX          "));
        f.lines();
        QTest::qWait(50);
    }
    ASSERT_EQ(f.dialogs.shown.size(), 1);
    EXPECT_TRUE(f.dialogs.shown[0].startsWith(QStringLiteral("Il registro della linea per l'assistenza non può essere scritto:\n") + f.home));
    // What was lost meanwhile is counted before the read that found the log again.
    const QStringList lines = f.lines();
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(lines[1].mid(24).startsWith(QStringLiteral("-- "))) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral(" voci non registrate")));
    EXPECT_EQ(lines[2].mid(24), QStringLiteral("== Leggi Eeprom"));
}

// The line log of the main window, against the box simulator: what went
// over the line is in the log, in order, under the operator's action, and a
// log that cannot be written stops nothing.

#include "tests/gui/FakeSeams.h"

#include "BoxSim.h"
#include "widgets/ALed.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>

namespace {

// XDG_STATE_HOME for the windows built after it: a fresh folder, or a
// regular file where the folder should be, which no one can write into.
struct StateHome
{
    explicit StateHome(bool writable)
        : saved_(qgetenv("XDG_STATE_HOME"))
    {
        const QString home = dir.filePath(QStringLiteral("state"));
        if (!writable) {
            QFile blocker(home);
            EXPECT_TRUE(blocker.open(QIODevice::WriteOnly));
        }
        qputenv("XDG_STATE_HOME", QFile::encodeName(home));
        logPath = home + QStringLiteral("/pradix/line.log");
    }
    ~StateHome() { qputenv("XDG_STATE_HOME", saved_); }

    QTemporaryDir dir;
    QString logPath;

private:
    QByteArray saved_;
};

struct LogFixture : StateHome, Fixture
{
    explicit LogFixture(bool writable = true)
        : StateHome(writable)
    {
    }

    bool startBox(std::vector<std::string> arguments)
    {
        // A Kolvar22 with an empty table: the header and the device text only.
        std::vector<char> image(2067, 0);
        const char header[16] = { 'U', 12, 1, 12, 10, 4, 6, 1, 12, 0, 0, 0, 0, 0, 1, 0 };
        std::copy(header, header + 16, image.begin());
        std::copy_n("LOGBOX          ", 16, image.begin() + 2051);
        std::ofstream(sim.file("box.img"), std::ios::binary).write(image.data(), std::streamsize(image.size()));
        arguments.insert(arguments.end(), { "--image", sim.file("box.img"), "--save", sim.file("saved.img") });
        if (!sim.start(arguments))
            return false;
        ui.EditDevName->setText(QString::fromStdString(sim.devicePath()));
        return true;
    }
    bool idle() const { return !window.exchange().port().Enabled() && ui.ALed1->FalseColor() == clGreen; }
    void read()
    {
        QTest::mouseClick(ui.ButtonTransmit, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return idle(); }, 30000));
    }

    BoxSim sim;
};

struct Entry
{
    QString stamp;
    QString text;
};

std::vector<Entry> entriesOf(const QString& path)
{
    static const QRegularExpression line(QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}) (.*)$"));
    QFile file(path);
    std::vector<Entry> entries;
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    for (const QString& text : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = line.match(text);
        entries.push_back(m.hasMatch() ? Entry { m.captured(1), m.captured(2) } : Entry { {}, text });
    }
    return entries;
}

// The bytes of the lines after the action's header up to the port's close:
// `direction` '>' for those written, '<' for those read. `lines` counts them.
QByteArray bytesOfAction(const std::vector<Entry>& entries, const QString& action, char direction, int* lines = nullptr)
{
    QByteArray bytes;
    auto e = std::find_if(entries.begin(), entries.end(), [&](const Entry& x) { return x.text == "== " + action; });
    for (; e != entries.end() && e->text != QStringLiteral("-- chiusa"); ++e) {
        if (e->text.startsWith(QLatin1Char(direction) + QStringLiteral(" "))) {
            bytes += QByteArray::fromHex(e->text.mid(2).toLatin1());
            if (lines)
                ++*lines;
        }
    }
    return e == entries.end() ? QByteArray("no close") : bytes;
}

} // namespace

TEST(LineLogWindow, AReadAndAWriteLeaveTheirBytesInOrderWithTheirTimes)
{
    LogFixture f;
    ASSERT_TRUE(f.startBox({})) << f.sim.error();
    f.read();
    QTest::mouseClick(f.ui.Button4, Qt::LeftButton);
    ASSERT_TRUE(f.idle());
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.sim.readSaved().size() == 2067; }, 5000));
    f.window.lineLog().flush();

    const std::vector<Entry> entries = entriesOf(f.logPath);
    ASSERT_GT(entries.size(), 130u);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ASSERT_FALSE(entries[i].stamp.isEmpty()) << entries[i].text.toStdString();
        if (i > 0) {
            EXPECT_LE(entries[i - 1].stamp, entries[i].stamp) << i;
        }
    }
    std::ifstream boxImage(f.sim.file("box.img"), std::ios::binary);
    const std::string image { std::istreambuf_iterator<char>(boxImage), {} };

    EXPECT_EQ(bytesOfAction(entries, QStringLiteral("Leggi Eeprom"), '>'), QByteArray("\x02\x01\x01", 3));
    int chunks = 0;
    EXPECT_EQ(bytesOfAction(entries, QStringLiteral("Leggi Eeprom"), '<', &chunks).toHex(' '),
              QByteArray::fromStdString(image).toHex(' '));
    EXPECT_GT(chunks, 1);

    // Every piece of the write on a line of its own, as the box received them.
    const std::vector<std::uint8_t> saved = f.sim.readSaved();
    const QByteArray table = QByteArray("\x02\x01\x02", 3) + QByteArray(reinterpret_cast<const char*>(saved.data()), 2051);
    int pieces = 0;
    EXPECT_EQ(bytesOfAction(entries, QStringLiteral("Scrivi Eeprom"), '>', &pieces).toHex(' '), table.toHex(' '));
    EXPECT_EQ(pieces, 1 + 1 + 127 + 3);
    EXPECT_TRUE(f.dialogs.shown.isEmpty()) << f.dialogs.shown.join(QLatin1Char('\n')).toStdString();
}

TEST(LineLogWindow, ALogThatCannotBeWrittenStopsNoReadAndIsToldOnce)
{
    LogFixture f(false);
    ASSERT_TRUE(f.startBox({ "--fast" })) << f.sim.error();
    f.read();
    EXPECT_EQ(f.window.grid().cell(1, 1), QStringLiteral("U"));
    EXPECT_EQ(f.ui.Label11->text(), QStringLiteral("LOGBOX          "));
    f.window.lineLog().flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.dialogs.shown.isEmpty(); }, 5000));
    EXPECT_TRUE(f.dialogs.shown[0].startsWith(QStringLiteral("Il registro della linea per l'assistenza non può essere scritto:\n")
                                              + f.dir.filePath(QStringLiteral("state"))))
        << f.dialogs.shown[0].toStdString();

    f.window.grid().fillData(QStringLiteral("-"));
    f.read();
    EXPECT_EQ(f.window.grid().cell(1, 1), QStringLiteral("U"));
    f.window.lineLog().flush();
    QTest::qWait(50);
    EXPECT_EQ(f.dialogs.shown.size(), 1);
}

TEST(LineLogWindow, TheAddressBooksCommandsAreLoggedUnderTheirButtons)
{
    LogFixture f;
    ASSERT_TRUE(f.startBox({ "--fast", "--unit" })) << f.sim.error();
    f.window.show();
    QTest::mouseClick(f.ui.Button10, Qt::LeftButton);
    control<QLineEdit>(f.form2, "Enumero")->setText(QStringLiteral("0123456789"));
    QTest::mouseClick(control<QPushButton>(f.form2, "Bcomponi"), Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>(f.form2, "Button1"), Qt::LeftButton);
    ASSERT_TRUE(f.idle());
    f.window.lineLog().flush();

    const std::vector<Entry> entries = entriesOf(f.logPath);
    EXPECT_EQ(bytesOfAction(entries, QStringLiteral("Chiama"), '>'), QByteArray::fromHex("020B0330313233343536373839"));
    EXPECT_EQ(bytesOfAction(entries, QStringLiteral("Sconnetti"), '>'), QByteArray::fromHex("0203030202"));
}

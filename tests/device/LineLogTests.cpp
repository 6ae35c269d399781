// The line log on its own: its lines, its file modes, its rotation, and a
// file that cannot be written.

#include "device/Exchange.h"
#include "device/LineLog.h"
#include "device/TableGrid.h"
#include "serial/CommInt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QStringList linesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The entries without their time stamps, checking each has one.
QStringList entriesOf(const QString& path)
{
    static const QRegularExpression stamped(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} (.*)$"));
    QStringList entries;
    for (const QString& line : linesOf(path)) {
        const QRegularExpressionMatch m = stamped.match(line);
        entries << (m.hasMatch() ? m.captured(1) : QStringLiteral("UNSTAMPED ") + line);
    }
    return entries;
}

int modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

const std::uint8_t request[] = { 0x02, 0x01, 0x01 };

} // namespace

TEST(LineLog, WritesEachEventAsOneStampedLineInOrderInAPrivateFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state/pradix/line.log"));
    {
        LineLog log(path);
        log.action(QStringLiteral("Leggi Eeprom\nforged line"));
        // A port reached through a link names the device behind it.
        QFile adapter(dir.filePath(QStringLiteral("ttyUSB0")));
        ASSERT_TRUE(adapter.open(QIODevice::WriteOnly) && adapter.link(dir.filePath(QStringLiteral("adapter"))));
        log.opened(dir.filePath(QStringLiteral("adapter")));
        log.written(request, 3, 3);
        const std::uint8_t chunk[] = { 0x55, 0x0C, 0xFF };
        log.read(chunk, 3);
        log.read(chunk, 0);
        log.written(request, 3, -1);
        log.closed();
        log.flush();
        EXPECT_TRUE(log.failure().isEmpty());
    }
    const QStringList entries = entriesOf(path);
    ASSERT_EQ(entries.size(), 7) << entries.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(entries[0].startsWith(QStringLiteral("-- avvio "))) << entries[0].toStdString();
    EXPECT_EQ(entries.mid(1), (QStringList { QStringLiteral("== Leggi Eeprom forged line"),
                                             QStringLiteral("-- aperta %1 (-> %2)")
                                                 .arg(dir.filePath(QStringLiteral("adapter")),
                                                      QFileInfo(dir.filePath(QStringLiteral("ttyUSB0"))).canonicalFilePath()),
                                             QStringLiteral("> 02 01 01"),
                                             QStringLiteral("< 55 0C FF"),
                                             QStringLiteral("> 02 01 01 !! non presi dalla linea in tempo (-1)"),
                                             QStringLiteral("-- chiusa") }));
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(modeOf(dir.filePath(QStringLiteral("state/pradix"))), 0700);
    EXPECT_EQ(modeOf(dir.filePath(QStringLiteral("state"))), 0700);
}

TEST(LineLog, AnExistingFileKeepsItsModeAndIsAppendedTo)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.log"));
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("earlier run\n");
    old.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    {
        LineLog log(path);
        log.closed();
    }
    const QStringList lines = linesOf(path);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("earlier run"));
    EXPECT_EQ(modeOf(path), 0640);
}

TEST(LineLog, AnExchangeThatCannotOpenItsPortLeavesThePortsMessage)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.log"));
    LineLog log(path);
    TComm port;
    TableGrid grid;
    Exchange exchange(port, grid);
    exchange.setObserver(&log);
    exchange.setPortName(dir.filePath(QStringLiteral("no-such-device")));
    exchange.announce(QStringLiteral("Leggi Eeprom"));
    EXPECT_THROW(exchange.requestTable(), ECommError);
    log.flush();
    const QStringList entries = entriesOf(path);
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[1], QStringLiteral("== Leggi Eeprom"));
    EXPECT_TRUE(entries[2].startsWith(QStringLiteral("-- non aperta ") + dir.filePath(QStringLiteral("no-such-device: "))))
        << entries[2].toStdString();
    EXPECT_TRUE(entries[2].endsWith(QStringLiteral("(Error: 2)"))) << entries[2].toStdString();
}

TEST(LineLog, RotatesBeforeAFileOutgrowsItsLimitAndKeepsTheNewestFiles)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.log"));
    // Each flushed entry is one line of 86 bytes: three fit in 300.
    const LineLog::Limits limits { 300, 3 };
    std::uint8_t bytes[20] = {};
    {
        LineLog log(path, limits);
        log.closed(); // the start line and this one
        log.flush();
        for (int i = 1; i <= 12; ++i) {
            bytes[0] = std::uint8_t(i);
            log.written(bytes, 20, 20);
            log.flush();
        }
    }
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".3")));
    QStringList all;
    for (const QString& name : { path + QStringLiteral(".2"), path + QStringLiteral(".1"), path }) {
        EXPECT_LE(QFileInfo(name).size(), 300) << name.toStdString();
        EXPECT_EQ(modeOf(name), 0600) << name.toStdString();
        all += entriesOf(name);
    }
    // The oldest lines went with the dropped file; what is kept runs on,
    // without a gap, to the last.
    ASSERT_GE(all.size(), 6);
    const int first = 13 - int(all.size());
    EXPECT_GT(first, 1);
    for (int i = 0; i < all.size(); ++i)
        EXPECT_TRUE(all[i].startsWith(QStringLiteral("> %1 ").arg(first + i, 2, 16, QLatin1Char('0')).toUpper()))
            << all[i].toStdString();
}

TEST(LineLog, AFileThatCannotBeWrittenIsToldOnceAndTriedAgainAtTheNextAction)
{
    QTemporaryDir dir;
    // A regular file where the folder should be: refused even to root.
    const QString blocker = dir.filePath(QStringLiteral("state"));
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QString path = blocker + QStringLiteral("/pradix/line.log");

    LineLog log(path);
    QSignalSpy failed(&log, &LineLog::failed);
    log.action(QStringLiteral("Leggi Eeprom"));
    log.written(request, 3, 3);
    log.flush();
    log.action(QStringLiteral("Leggi Eeprom"));
    log.flush();
    EXPECT_EQ(failed.count(), 1);
    EXPECT_TRUE(log.failure().startsWith(blocker)) << log.failure().toStdString();

    ASSERT_TRUE(QFile::remove(blocker));
    log.written(request, 3, 3); // still quiet: no new action yet
    log.flush();
    EXPECT_FALSE(QFile::exists(path));
    log.action(QStringLiteral("Scrivi Eeprom"));
    log.flush();
    const QStringList entries = entriesOf(path);
    // The start line, then what was lost meanwhile, counted.
    ASSERT_EQ(entries.size(), 3);
    EXPECT_TRUE(entries[1].startsWith(QStringLiteral("-- 4 voci non registrate"))) << entries[1].toStdString();
    EXPECT_EQ(entries[2], QStringLiteral("== Scrivi Eeprom"));
    EXPECT_EQ(failed.count(), 1);
}

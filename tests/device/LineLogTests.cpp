// The line log on its own: its lines, its file modes and its rotation.

#include "device/LineLog.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// The log's lines without their time stamps, each checked to have one.
QStringList entriesOf(const QString& path)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
    QFile file(path);
    QStringList entries;
    for (const QString& line : file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts) : QStringList()) {
        EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
        entries << line.mid(24);
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
    QFile adapter(dir.filePath(QStringLiteral("ttyUSB0")));
    ASSERT_TRUE(adapter.open(QIODevice::WriteOnly) && adapter.link(dir.filePath(QStringLiteral("com1"))));
    {
        LineLog log(path);
        log.action(QStringLiteral("Leggi Eeprom\nforged line"));
        log.opened(dir.filePath(QStringLiteral("com1"))); // a link names the device behind it
        log.written(request, 3, 3);
        const std::uint8_t chunk[] = { 0x55, 0x0C, 0xFF };
        log.read(chunk, 3);
        log.written(request, 3, -1);
        log.closed();
        log.flush();
    }
    const QStringList entries = entriesOf(path);
    ASSERT_EQ(entries.size(), 7);
    EXPECT_TRUE(entries[0].startsWith(QStringLiteral("-- avvio "))) << entries[0].toStdString();
    EXPECT_EQ(entries.mid(1),
              (QStringList { QStringLiteral("== Leggi Eeprom forged line"),
                             QStringLiteral("-- aperta %1 (-> %2)").arg(dir.filePath(QStringLiteral("com1")), QFileInfo(adapter).canonicalFilePath()),
                             QStringLiteral("> 02 01 01"), QStringLiteral("< 55 0C FF"),
                             QStringLiteral("> 02 01 01 !! non presi dalla linea in tempo (-1)"), QStringLiteral("-- chiusa") }));
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(modeOf(dir.filePath(QStringLiteral("state/pradix"))), 0700);
    EXPECT_EQ(modeOf(dir.filePath(QStringLiteral("state"))), 0700);
}

TEST(LineLog, RotatesBeforeAFileOutgrowsItsLimitAndKeepsTheNewestFiles)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.log"));
    std::uint8_t bytes[20] = {}; // a line of 86 bytes: three fit in 300
    {
        LineLog log(path, { 300, 3 });
        for (int i = 1; i <= 12; ++i) {
            bytes[0] = std::uint8_t(i);
            log.written(bytes, 20, 20);
            log.flush();
        }
    }
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".3")));
    QStringList kept;
    for (const QString& name : { path + QStringLiteral(".2"), path + QStringLiteral(".1"), path }) {
        EXPECT_LE(QFileInfo(name).size(), 300) << name.toStdString();
        EXPECT_EQ(modeOf(name), 0600) << name.toStdString();
        kept += entriesOf(name);
    }
    // The oldest lines went with the dropped file; the rest run on, without a gap, to the last.
    ASSERT_GE(kept.size(), 6);
    const int first = 13 - int(kept.size());
    EXPECT_GT(first, 1);
    for (int i = 0; i < kept.size(); ++i)
        EXPECT_TRUE(kept[i].startsWith(QStringLiteral("> %1 ").arg(first + i, 2, 16, QLatin1Char('0')).toUpper()));
}

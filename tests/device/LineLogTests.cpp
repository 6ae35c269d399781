// The line log on its own: its lines, its file modes and its rotation.

#include "device/LineLog.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

// A log that cannot be written tells it once, tries again only at the
// operator's next action, and once it can write again says how many entries
// it could not keep.
TEST(LineLog, AFailureIsToldOnceAndTheLostEntriesAreCounted)
{
    QTemporaryDir dir;
    const QString blocker = dir.filePath(QStringLiteral("state")); // a file where the log's folder goes
    QFile(blocker).open(QIODevice::WriteOnly);
    std::atomic<int> told { 0 };
    LineLog log(blocker + QStringLiteral("/line.log"));
    QObject::connect(&log, &LineLog::failed, [&told](const QString&) { ++told; });
    log.action(QStringLiteral("Leggi Eeprom"));
    log.written(request, 3, 3);
    log.flush();
    log.written(request, 3, 3);
    log.flush();
    log.action(QStringLiteral("Scrivi Eeprom"));
    log.flush();
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(log.failure().contains(blocker)) << log.failure().toStdString();

    ASSERT_TRUE(QFile::remove(blocker));
    log.action(QStringLiteral("Leggi Eeprom"));
    log.written(request, 3, 3);
    log.flush();
    EXPECT_EQ(told, 1);
    const QStringList entries = entriesOf(blocker + QStringLiteral("/line.log"));
    ASSERT_EQ(entries.size(), 4);
    EXPECT_EQ(entries.mid(1), (QStringList { QStringLiteral("-- 4 voci non registrate (registro in ritardo o non scrivibile)"),
                                             QStringLiteral("== Leggi Eeprom"), QStringLiteral("> 02 01 01") }));
}

// A trace file named on the command line: a pipe (which would hold the log
// until a reader came) and a link are refused and nothing is written through.
TEST(LineLog, WritesOnlyIntoAPlainFile)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("someone's file"));
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("kept") == 4);
    file.close();
    const QString pipe = dir.filePath(QStringLiteral("pipe"));
    const QString link = dir.filePath(QStringLiteral("link"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(target, link));
    for (const QString& name : { pipe, link }) {
        LineLog log(name, { 0, 1 });
        log.action(QStringLiteral("Leggi Eeprom"));
        log.flush();
        EXPECT_EQ(log.failure(), name + QStringLiteral(": non è un file"));
    }
    EXPECT_EQ(QFileInfo(target).size(), 4);
}

// Two programs filling one log at once, each rotating it as it fills: every
// rotation moves the files up once, so none is left empty and, with room for
// them all, no line is lost.
TEST(LineLog, TwoLogsOnOneFileRotateItInTurn)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.log"));
    constexpr int Lines = 300;
    {
        LineLog first(path, { 300, 1000 });
        LineLog second(path, { 300, 1000 });
        const auto fill = [](LineLog& log) {
            for (int i = 0; i < Lines; ++i) {
                log.written(request, 3, 3);
                log.flush();
            }
        };
        std::thread other([&] { fill(second); });
        fill(first);
        other.join();
    }
    int written = 0;
    for (const QString& name : QDir(dir.path()).entryList(QDir::Files)) {
        const QStringList entries = entriesOf(dir.filePath(name));
        EXPECT_FALSE(entries.isEmpty()) << name.toStdString();
        written += int(entries.filter(QStringLiteral("> 02 01 01")).size());
    }
    EXPECT_EQ(written, 2 * Lines);
}

#include "tables/TableBackup.h"
#include "tables/TableFile.h"

#include "GridText.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>

namespace {

const QDateTime when(QDate(2026, 12, 7), QTime(14, 3, 22));

TableGrid kolvar22Table()
{
    TableGrid grid = freshGrid();
    setRowText(grid, 1, QStringLiteral("U#A#0461#-----B0----------"));
    setRowText(grid, 2, sampleKolvar22);
    return grid;
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

void touch(const QString& path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write("x");
}

TEST(TableBackup, IsATableFileNamedByTimeDirectionAndModelThatLoadsBack)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("pradix/backups")); // made on the way
    const TableGrid table = kolvar22Table();

    const QString first = editor::keepTableBackup(table, editor::BackupDirection::Write, folder, 500, when);
    EXPECT_EQ(first, folder + QStringLiteral("/2026-12-07_14-03-22_write_Kolvar22.dat"));
    EXPECT_EQ(contents(first), editor::tableFileBytes(table));
    TableGrid loaded;
    ASSERT_TRUE(editor::loadTableFile(loaded, first).loaded());
    EXPECT_TRUE(loaded.dataEquals(table));

    // A second table in the same second keeps the first.
    TableGrid other = table;
    other.setCell(3, 2, '7');
    const QString second = editor::keepTableBackup(other, editor::BackupDirection::Write, folder, 500, when);
    EXPECT_EQ(second, folder + QStringLiteral("/2026-12-07_14-03-22_write_Kolvar22_2.dat"));
    EXPECT_EQ(contents(first), editor::tableFileBytes(table));
    EXPECT_EQ(contents(second), editor::tableFileBytes(other));

    other.setCell(1, 1, 'Y');
    EXPECT_EQ(editor::keepTableBackup(other, editor::BackupDirection::Read, folder, 500, when),
              folder + QStringLiteral("/2026-12-07_14-03-22_read_Kolvar1.dat"));
    // Nothing is left aside.
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 3);
    // The folders made on the way and every backup are the user's alone.
    EXPECT_EQ(modeOf(folder), 0700);
    EXPECT_EQ(modeOf(dir.filePath(QStringLiteral("pradix"))), 0700);
    EXPECT_EQ(modeOf(second), 0600);
}

TEST(TableBackup, KeepsOnlyTheNewestOfItsOwnFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path();
    for (const char* name : { "2026-12-07_14-03-21_read_Kolvar22.dat", "2025-01-01_00-00-00_write_Kolvar1.dat",
                              "2026-12-07_14-03-22_write_Kolvar22.dat", "2026-12-07_14-03-22_write_Kolvar22_10.dat",
                              "2026-12-07_14-03-22_write_Kolvar22_9.dat", "tabella.dat",
                              "2020-01-01_00-00-00_read_Kolvar22.dat.txt" })
        touch(dir.filePath(QString::fromLatin1(name)));
    // Scratch copies: one a crash left an hour ago, one another Pradix is writing now.
    for (const char* name : { ".backup-AbC123", ".backup-xYz789" })
        touch(dir.filePath(QString::fromLatin1(name)));
    QFile left(dir.filePath(QStringLiteral(".backup-AbC123")));
    ASSERT_TRUE(left.open(QIODevice::ReadWrite));
    ASSERT_TRUE(left.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    left.close();

    const QString kept = editor::keepTableBackup(kolvar22Table(), editor::BackupDirection::Read, folder, 3,
                                                 when.addSecs(60));
    EXPECT_EQ(QDir(folder).entryList({ QStringLiteral(".backup-*") }, QDir::Files | QDir::Hidden),
              QStringList { QStringLiteral(".backup-xYz789") });
    ASSERT_FALSE(kept.isEmpty());
    // Numbered files of one second count in their order (9 before 10); other names stay.
    QStringList names = QDir(folder).entryList(QDir::Files);
    names.sort();
    EXPECT_EQ(names, (QStringList{ QStringLiteral("2020-01-01_00-00-00_read_Kolvar22.dat.txt"),
                                  QStringLiteral("2026-12-07_14-03-22_write_Kolvar22_10.dat"),
                                  QStringLiteral("2026-12-07_14-03-22_write_Kolvar22_9.dat"),
                                  QStringLiteral("2026-12-07_14-04-22_read_Kolvar22.dat"),
                                  QStringLiteral("tabella.dat") }));

    // Backups dated later than now (a clock once set ahead) never push out the new one.
    const QString early = editor::keepTableBackup(kolvar22Table(), editor::BackupDirection::Write, folder, 3,
                                                  when.addYears(-5));
    ASSERT_FALSE(early.isEmpty());
    EXPECT_TRUE(QFile::exists(early));
    EXPECT_EQ(QDir(folder).entryList({ QStringLiteral("20*.dat") }, QDir::Files).size(), 3);
}

TEST(TableBackup, AFolderThatCannotBeMadeFailsWithOneLineOnStandardError)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Under a plain file: not even root can make this folder.
    touch(dir.filePath(QStringLiteral("plain")));
    const QString folder = dir.filePath(QStringLiteral("plain/backups"));
    testing::internal::CaptureStderr();
    const QString kept = editor::keepTableBackup(kolvar22Table(), editor::BackupDirection::Write, folder, 500, when);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(kept.isEmpty());
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find(folder.toStdString()), std::string::npos) << said;
}

TEST(TableBackup, FolderFollowsXdgDataHome)
{
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(editor::backupFolder(), QStringLiteral("/srv/data/pradix/backups"));
    qputenv("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(editor::backupFolder(), QDir::homePath() + QStringLiteral("/.local/share/pradix/backups"));
    if (saved.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", saved);
}

} // namespace

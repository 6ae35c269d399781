#include "tables/TableFile.h"
#include "tests/common/TestFiles.h"
#include "GridText.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

#include <sys/stat.h>

using editor::LoadResult;
using editor::SaveResult;

using namespace testfiles;

namespace {

QByteArray line(const QByteArray& cells, const char* end = "\r\n")
{
    return cells + end;
}

bool rowHoldsCodeZero(const TableGrid& grid, int row, int first = 1)
{
    for (int c = first; c <= 26; ++c)
        if (grid.cell(c, row) != QString(QChar(0)))
            return false;
    return true;
}

bool isCharDevice(const char* path)
{
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISCHR(st.st_mode);
}

// Runs `f` while this process may not make any file larger than `bytes`,
// as on a disk that is full beyond that point.
template <typename F>
auto writingAtMost(rlim_t bytes, F&& f)
{
    const testfiles::FileSizeLimit limit(bytes);
    return f();
}

// Gives `good` bytes, then fails like a stick pulled out half-way.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(QByteArray good)
        : good_(std::move(good))
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        if (at_ >= good_.size())
            return -1;
        const qint64 n = std::min<qint64>(std::min<qint64>(maxSize, 100), good_.size() - at_);
        std::memcpy(data, good_.constData() + at_, size_t(n));
        at_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray good_;
    qint64 at_ = 0;
};

// Never ends: a device chosen by mistake, or a file far larger than a table.
class EndlessDevice : public QIODevice
{
public:
    explicit EndlessDevice(char fill)
        : fill_(fill)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 served = 0;

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        std::memset(data, fill_, size_t(maxSize));
        served += maxSize;
        return maxSize;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    char fill_;
};

class TableFileTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

    QTemporaryDir dir;
};

} // namespace

TEST_F(TableFileTest, FreshTableSavesAs128LinesOfDashes)
{
    const TableGrid grid = freshGrid();
    const SaveResult result = editor::saveTableFile(grid, path("fresh.dat"));
    ASSERT_TRUE(result.saved()) << result.reason.toStdString();
    EXPECT_TRUE(result.replacedRows.empty());
    QByteArray expected;
    for (int i = 0; i < 128; ++i)
        expected += line(QByteArray(26, '-'));
    EXPECT_EQ(fileBytes(path("fresh.dat")), expected);
    EXPECT_EQ(expected.size(), 3584);
}

TEST_F(TableFileTest, EveryByteRoundTrips)
{
    // Any byte in any cell, line ends and 0x1A included, at the start of a line too.
    TableGrid grid;
    QRandomGenerator random(4711);
    for (int r = 1; r <= 128; ++r)
        for (int c = 1; c <= 26; ++c)
            grid.setCell(c, r, QString(QChar(uchar(random.bounded(256)))));
    setRowText(grid, 7, QStringLiteral("\r\n\n\r\x1A\x00\xff"), 1);
    grid.setCell(1, 8, QString(QChar(u'\n')));
    grid.setCell(1, 9, QString(QChar(0x1A)));

    ASSERT_TRUE(editor::saveTableFile(grid, path("any.dat")).saved());
    const QByteArray saved = fileBytes(path("any.dat"));
    ASSERT_EQ(saved.size(), 3584);

    TableGrid loaded = freshGrid();
    const LoadResult result = editor::loadTableFile(loaded, path("any.dat"));
    ASSERT_TRUE(result.loaded());
    EXPECT_EQ(result.linesRead, 128);
    EXPECT_TRUE(loaded.dataEquals(grid));

    ASSERT_TRUE(editor::saveTableFile(loaded, path("again.dat")).saved());
    EXPECT_EQ(fileBytes(path("again.dat")), saved);
}

TEST_F(TableFileTest, TenLinesFillTenRowsAndTheRestHoldCodeZero)
{
    QByteArray bytes = line("U#A#0461#-----B0----------");
    for (int i = 2; i <= 10; ++i)
        bytes += line(sampleKolvar22.toLatin1());
    writeFile(path("ten.dat"), bytes);

    TableGrid grid = freshGrid();
    grid.setCell(0, 5, QStringLiteral("4"));
    const LoadResult result = editor::loadTableFile(grid, path("ten.dat"));
    ASSERT_TRUE(result.loaded());
    EXPECT_EQ(result.linesRead, 10);
    EXPECT_EQ(rowText(grid, 1), QStringLiteral("U#A#0461#-----B0----------"));
    EXPECT_EQ(rowText(grid, 10), sampleKolvar22);
    for (int r = 11; r <= 128; ++r)
        ASSERT_TRUE(rowHoldsCodeZero(grid, r)) << r;
    EXPECT_EQ(grid.cell(0, 5), QStringLiteral("4")); // row numbers are not table data

    // Saved again, the rows the file did not reach are zero bytes.
    std::vector<int> replaced;
    const QByteArray again = editor::tableFileBytes(grid, &replaced);
    EXPECT_TRUE(replaced.empty());
    EXPECT_EQ(again.left(bytes.size()), bytes);
    EXPECT_EQ(again.mid(10 * 28, 28), QByteArray(26, '\0') + "\r\n");
}

TEST_F(TableFileTest, EmptyFileLeavesEveryCellAtCodeZero)
{
    writeFile(path("empty.dat"), QByteArray());
    TableGrid grid = freshGrid();
    const LoadResult result = editor::loadTableFile(grid, path("empty.dat"));
    EXPECT_TRUE(result.loaded());
    EXPECT_EQ(result.linesRead, 0);
    for (int r = 1; r <= 128; ++r)
        ASSERT_TRUE(rowHoldsCodeZero(grid, r)) << r;
}

TEST_F(TableFileTest, LinesEndedByLfOrShortAreTheirOwnLines)
{
    QByteArray bytes;
    bytes += line("U#M#", "\r\n");                       // short, CR LF
    bytes += line(sampleKolvar22.toLatin1(), "\n");      // full, lone LF
    bytes += line("39*41#", "\n");                        // short, lone LF
    bytes += line(QByteArray(30, '7'), "\r\n");           // too long: the first 26 count
    bytes += "12";                                        // last line, no line end
    TableGrid grid = freshGrid();
    writeFile(path("lf.dat"), bytes);
    const LoadResult result = editor::loadTableFile(grid, path("lf.dat"));
    ASSERT_TRUE(result.loaded());
    EXPECT_EQ(result.linesRead, 5);
    EXPECT_EQ(rowText(grid, 1, 1, 4), QStringLiteral("U#M#"));
    EXPECT_TRUE(rowHoldsCodeZero(grid, 1, 5));
    EXPECT_EQ(rowText(grid, 2), sampleKolvar22);
    EXPECT_EQ(rowText(grid, 3, 1, 6), QStringLiteral("39*41#"));
    EXPECT_TRUE(rowHoldsCodeZero(grid, 3, 7));
    EXPECT_EQ(rowText(grid, 4), QString(26, QLatin1Char('7')));
    EXPECT_EQ(rowText(grid, 5, 1, 2), QStringLiteral("12"));
    EXPECT_TRUE(rowHoldsCodeZero(grid, 5, 3));
    EXPECT_TRUE(rowHoldsCodeZero(grid, 6));
}

TEST_F(TableFileTest, EndByteAndExtraLines)
{
    QByteArray bytes;
    for (int i = 1; i <= 4; ++i)
        bytes += line(QByteArray(25, char('A' + i)) + '\x1A'); // 0x1A inside a line is data
    bytes += line("\x1A" + QByteArray(25, 'Z')); // a whole line is a row, whatever its first byte
    bytes += "\x1A" + line(QByteArray(24, 'Y'));  // a short one ends the file
    TableGrid grid = freshGrid();
    writeFile(path("eof.dat"), bytes);
    EXPECT_EQ(editor::loadTableFile(grid, path("eof.dat")).linesRead, 5);
    EXPECT_EQ(grid.cell(26, 4), QString(QChar(0x1A)));
    EXPECT_EQ(grid.cell(1, 5), QString(QChar(0x1A)));
    EXPECT_TRUE(rowHoldsCodeZero(grid, 6));

    // Lines after the 128th have no row.
    QByteArray many;
    for (int i = 1; i <= 140; ++i)
        many += line(QByteArray::number(i).rightJustified(26, '.'));
    writeFile(path("many.dat"), many);
    EXPECT_EQ(editor::loadTableFile(grid, path("many.dat")).linesRead, 128);
    EXPECT_EQ(rowText(grid, 128).right(3), QStringLiteral("128"));
}

TEST_F(TableFileTest, UnopenableFileLeavesTheGridAsItWas)
{
    TableGrid grid = freshGrid();
    setRowText(grid, 1, QStringLiteral("U#A#"));
    setRowText(grid, 5, sampleKolvar22);
    const TableGrid before = grid;

    const QString missing = path("missing.dat");
    LoadResult result = editor::loadTableFile(grid, missing);
    EXPECT_EQ(result.status, LoadResult::Status::OpenFailed);
    EXPECT_TRUE(grid.dataEquals(before));
    const QString message = editor::loadFailedMessage(missing, result);
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(missing))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("non esiste"))) << message.toStdString();

    result = editor::loadTableFile(grid, dir.path());
    EXPECT_EQ(result.status, LoadResult::Status::OpenFailed);
    EXPECT_TRUE(result.reason.contains(QStringLiteral("cartella")));
    EXPECT_TRUE(grid.dataEquals(before));

    if (QFile::exists(QStringLiteral("/dev/null"))) {
        result = editor::loadTableFile(grid, QStringLiteral("/dev/null"));
        EXPECT_EQ(result.status, LoadResult::Status::OpenFailed);
        EXPECT_TRUE(grid.dataEquals(before));
    }
}

TEST_F(TableFileTest, ReadFailureLeavesTheGridAsItWasAndSaysSo)
{
    // Reading the start of a process's own memory fails at once.
    if (!QFile::exists(QStringLiteral("/proc/self/mem")))
        GTEST_SKIP() << "no /proc";
    TableGrid grid = freshGrid();
    setRowText(grid, 1, QStringLiteral("U#A#"));
    const TableGrid before = grid;
    const LoadResult result = editor::loadTableFile(grid, QStringLiteral("/proc/self/mem"));
    ASSERT_EQ(result.status, LoadResult::Status::ReadFailed) << result.reason.toStdString();
    EXPECT_TRUE(grid.dataEquals(before));
    const QString message = editor::loadFailedMessage(QStringLiteral("/proc/self/mem"), result);
    EXPECT_TRUE(message.contains(QStringLiteral("interrotta"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("non è stata modificata"))) << message.toStdString();
}

TEST_F(TableFileTest, SaveFailuresAreReported)
{
    const TableGrid grid = freshGrid();
    const QString nowhere = dir.filePath(QStringLiteral("no/such/folder/t.dat"));
    SaveResult result = editor::saveTableFile(grid, nowhere);
    EXPECT_EQ(result.status, SaveResult::Status::CreateFailed);
    EXPECT_FALSE(QFile::exists(nowhere));
    EXPECT_TRUE(editor::saveFailedMessage(nowhere, result).contains(QStringLiteral("non è stata salvata")));

    result = editor::saveTableFile(grid, dir.path());
    EXPECT_EQ(result.status, SaveResult::Status::CreateFailed);

    // A full disk: the file opens but the bytes do not go in.
    if (QFile::exists(QStringLiteral("/dev/full"))) {
        result = editor::saveTableFile(grid, QStringLiteral("/dev/full"));
        EXPECT_EQ(result.status, SaveResult::Status::WriteFailed);
        EXPECT_TRUE(editor::saveFailedMessage(QStringLiteral("/dev/full"), result)
                        .contains(QStringLiteral("incompleto")));
    }

    // A device cannot be replaced by a file: the bytes go to it directly.
    if (QFile::exists(QStringLiteral("/dev/null"))) {
        EXPECT_TRUE(editor::saveTableFile(grid, QStringLiteral("/dev/null")).saved());
        EXPECT_TRUE(isCharDevice("/dev/null"));
    }
}

TEST_F(TableFileTest, SaveThatCannotCompleteKeepsTheOldFile)
{
    TableGrid old = freshGrid();
    setRowText(old, 1, QStringLiteral("U#A#0461#-----B0"));
    setRowText(old, 2, sampleKolvar22);
    const QString target = path("box.dat");
    ASSERT_TRUE(editor::saveTableFile(old, target).saved());
    const QByteArray oldBytes = fileBytes(target);

    // A disk that fills up after the first kilobyte of the new table.
    TableGrid next = freshGrid();
    setRowText(next, 1, QStringLiteral("Y#M#"));
    const SaveResult result = writingAtMost(1024, [&] { return editor::saveTableFile(next, target); });
    EXPECT_EQ(result.status, SaveResult::Status::WriteFailed);
    EXPECT_FALSE(result.partial);
    EXPECT_EQ(fileBytes(target), oldBytes);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("box.dat") })
        << "nothing of the failed save is left behind";
    EXPECT_TRUE(editor::saveFailedMessage(target, result).contains(QStringLiteral("rimasto com'era")));

    // A longer file than the table is replaced whole, not overwritten from the start.
    writeFile(target, QByteArray(5000, 'x'));
    ASSERT_TRUE(editor::saveTableFile(next, target).saved());
    EXPECT_EQ(fileBytes(target), editor::tableFileBytes(next));
}

// Tables and the tool's exports are customers' data: a file made new is the
// user's alone whatever the umask; a file replaced keeps the mode it had.
TEST_F(TableFileTest, ANewFileIsTheUsersAloneAndAReplacedOneKeepsItsMode)
{
    const auto modeOf = [](const QString& name) {
        struct stat st {};
        return ::stat(QFile::encodeName(name).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    };
    const QString fresh = path("new.dat");
    const QString shared = path("shared.dat");
    writeFile(shared, "old");
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0644), 0);
    const mode_t umask = ::umask(022);
    const bool saved = editor::saveTableFile(freshGrid(), fresh).saved() && editor::saveTableFile(freshGrid(), shared).saved();
    ::umask(umask);
    ASSERT_TRUE(saved);
    EXPECT_EQ(modeOf(fresh), 0600);
    EXPECT_EQ(modeOf(shared), 0644);
}

TEST_F(TableFileTest, CellsNotOneByteAreReplacedAndNamed)
{
    TableGrid grid = freshGrid();
    grid.setCell(2, 1, QString());               // a separator that was not 12
    grid.setCell(1, 4, QStringLiteral("12"));     // a prefix byte 12
    grid.setCell(3, 4, QStringLiteral("255"));
    grid.setCell(5, 60, QString(QChar(0x20AC)));  // pasted into a box: no Latin-1 byte

    const SaveResult result = editor::saveTableFile(grid, path("odd.dat"));
    ASSERT_TRUE(result.saved());
    EXPECT_EQ(result.replacedRows, (std::vector<int> { 1, 4, 60 }));
    const QByteArray saved = fileBytes(path("odd.dat"));
    ASSERT_EQ(saved.size(), 3584);
    EXPECT_EQ(saved.mid(0, 3), QByteArray("-\0-", 3));
    EXPECT_EQ(saved.mid(3 * 28, 4), QByteArray("?-?-"));
    EXPECT_EQ(saved.at(59 * 28 + 4), '?');

    const QString message = editor::replacedCellsMessage(result.replacedRows);
    EXPECT_TRUE(message.contains(QStringLiteral("intestazione"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("associazioni 3, 59"))) << message.toStdString();
    EXPECT_EQ(editor::replacedCellsMessage({ 9 }).contains(QStringLiteral("associazione 8")), true);
}

TEST(TableFileLines, ReadsFromAnyDevice)
{
    QByteArray bytes = line(QByteArray(26, 'x'));
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    TableGrid grid = freshGrid();
    bool failed = true;
    EXPECT_EQ(editor::readTableLines(buffer, grid, &failed), 1);
    EXPECT_FALSE(failed);
    EXPECT_EQ(rowText(grid, 1), QString(26, QLatin1Char('x')));
    EXPECT_EQ(rowText(grid, 2), QString(26, QLatin1Char('-'))); // not reached, not touched
}

TEST(TableFileLines, DeviceFailingPartWayLeavesTheGridAlone)
{
    QByteArray good;
    for (int i = 0; i < 5; ++i)
        good += line(QByteArray(26, char('a' + i)));
    FailingDevice device(good);
    TableGrid grid = freshGrid();
    bool failed = false;
    EXPECT_EQ(editor::readTableLines(device, grid, &failed), 0);
    EXPECT_TRUE(failed);
    EXPECT_TRUE(grid.dataEquals(freshGrid())) << rowText(grid, 1).toStdString();
}

TEST(TableFileLines, EndlessDeviceIsReadOnlyAsFarAsATableReaches)
{
    // Lines with no line end: each row takes the longest line the reader allows.
    EndlessDevice device('7');
    TableGrid grid = freshGrid();
    bool failed = true;
    EXPECT_EQ(editor::readTableLines(device, grid, &failed), 128);
    EXPECT_FALSE(failed);
    EXPECT_EQ(rowText(grid, 128), QString(26, QLatin1Char('7')));
    EXPECT_LE(device.served, 1024 * 1024);
}

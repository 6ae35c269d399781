// The exchange on a real pseudo-terminal, without a window: a planned write
// goes out byte for byte with its pauses, stops at a piece the line does not
// take, and a table and a reply frame from the box come back as signals.

#include "device/Exchange.h"
#include "device/LineObserver.h"
#include "device/Pacer.h"
#include "serial/CommInt.h"

#include "../serial/PtyPair.h"
#include "GridText.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

class Pauses : public Pacer
{
public:
    void sleep(int ms) override { waits.push_back(ms); }
    std::vector<int> waits;
};

// 00:07 on a Sunday: the clock goes out as 07 00 07.
class SundayMorning : public Clock
{
public:
    ClockReading now() const override { return { 0, 7, 7 }; }
};

class Recorder : public LineObserver
{
public:
    void opened(const QString& deviceName) override { opens << deviceName; }
    void closed() override { ++closes; }
    void written(const std::uint8_t* bytes, int count, int result) override
    {
        writes.push_back(QByteArray(reinterpret_cast<const char*>(bytes), count));
        results.push_back(result);
    }
    void read(const std::uint8_t* bytes, int count) override
    {
        reads += QByteArray(reinterpret_cast<const char*>(bytes), count);
    }

    QStringList opens;
    int closes = 0;
    std::vector<QByteArray> writes;
    std::vector<int> results;
    QByteArray reads;
};

struct Line
{
    Line()
    {
        port.setMonitorEvents({});
        port.setFlowControl(fcNone);
        exchange.setPortName(pty.path);
        exchange.setObserver(&recorder);
    }

    PtyPair pty;
    TComm port;
    TableGrid grid;
    Exchange exchange { port, grid };
    Recorder recorder;
};

TableGrid smallTable()
{
    TableGrid grid = freshGrid();
    setRowText(grid, 1, QStringLiteral("U#A#0461#-----B0----------"));
    setRowText(grid, 2, sampleKolvar22);
    setRowText(grid, 3, QStringLiteral("02****--------000024000*0#"));
    return grid;
}

QByteArray joined(const std::vector<writeplan::Piece>& pieces)
{
    QByteArray all;
    for (const writeplan::Piece& piece : pieces)
        all += piece.bytes;
    return all;
}

TEST(ExchangeWrite, ThePlansPiecesGoOutOneWriteEachWithTheirPausesThenTheClock)
{
    Line line;
    ASSERT_TRUE(line.pty.ok());
    const writeplan::Plan plan = writeplan::plan(smallTable(), { 1, QStringLiteral("Feriale"), QStringLiteral("1") });
    ASSERT_TRUE(plan.ok()) << plan.message.toStdString();
    QSignalSpy busy(&line.exchange, &Exchange::busyChanged);
    Pauses pacer;
    std::vector<int> records;

    const writeplan::Result result = line.exchange.writeTable(plan, pacer, SundayMorning(),
                                                              [&](int association) { records.push_back(association); });

    EXPECT_TRUE(result.sent());
    const QByteArray clock("\x07\x00\x07", 3);
    EXPECT_EQ(line.pty.receive(2054), joined(plan.pieces) + clock);
    ASSERT_EQ(line.recorder.writes.size(), plan.pieces.size() + 3);
    for (std::size_t i = 0; i < plan.pieces.size(); ++i)
        EXPECT_EQ(line.recorder.writes[i], plan.pieces[i].bytes) << "piece " << i;
    EXPECT_EQ(line.recorder.writes.back(), QByteArray(1, '\x07'));
    EXPECT_EQ(line.recorder.opens, QStringList { line.pty.path });
    EXPECT_EQ(line.recorder.closes, 1);

    std::vector<int> expectedWaits { 45, 55 };
    expectedWaits.insert(expectedWaits.end(), 127, 50);
    EXPECT_EQ(pacer.waits, expectedWaits);
    ASSERT_EQ(records.size(), 127u);
    EXPECT_EQ(records.front(), 1);
    EXPECT_EQ(records.back(), 127);

    EXPECT_FALSE(line.port.Enabled());
    EXPECT_FALSE(line.exchange.busy());
    ASSERT_EQ(busy.count(), 2);
    EXPECT_TRUE(busy.at(0).at(0).toBool());
    EXPECT_FALSE(busy.at(1).at(0).toBool());
}

TEST(ExchangeWrite, APieceTheLineDoesNotTakeEndsTheWriteThereWithTheLinkLeftBusy)
{
    const writeplan::Plan plan = writeplan::plan(smallTable(), {});
    ASSERT_TRUE(plan.ok());
    // Port writes: request, header, association 1 in 8 pieces, then association 2's prefix.
    using Piece = writeplan::StopPoint::Piece;
    struct Stop
    {
        int call;
        Piece piece;
        int association;
    };
    for (const Stop stop : { Stop { 0, Piece::Request, 0 }, Stop { 1, Piece::Header, 0 },
                             Stop { 4, Piece::Association, 1 }, Stop { 10, Piece::Association, 2 },
                             Stop { int(plan.pieces.size()) + 1, Piece::Clock, 0 } }) {
        Line line;
        ASSERT_TRUE(line.pty.ok());
        line.port.setWriteFault([&](int call, int) { return call == stop.call; });
        Pauses pacer;
        const writeplan::Result result = line.exchange.writeTable(plan, pacer, SundayMorning());
        EXPECT_EQ(result.outcome, writeplan::Result::Outcome::CutShort) << stop.call;
        EXPECT_EQ(result.stoppedAt.piece, stop.piece) << stop.call;
        EXPECT_EQ(result.stoppedAt.association, stop.association) << stop.call;
        EXPECT_EQ(line.port.WriteCalls(), stop.call + 1) << "nothing after the piece cut short";
        EXPECT_EQ(line.recorder.results.back(), -1);
        QByteArray before;
        for (int i = 0; i < stop.call && i < int(plan.pieces.size()); ++i)
            before += plan.pieces[std::size_t(i)].bytes;
        if (stop.call > int(plan.pieces.size()))
            before += '\x07';
        EXPECT_EQ(line.pty.pending(), before) << stop.call;
        EXPECT_FALSE(line.port.Enabled());
        EXPECT_TRUE(line.exchange.busy());
    }
}

// The box's image of a one-association Kolvar22 table.
QByteArray kolvar22Image()
{
    QByteArray image(codec::ImageSize, '\0');
    const QByteArray header = QByteArray::fromHex("55 0C 01 0C 0A 04 06 01 0C 00 00 00 00 00 01 0A");
    const QByteArray record = QByteArray::fromHex("03 09 0B 0B 0B 0B 1A 55 BB BB 11 1A 01 0B 01 0C");
    image.replace(0, 16, header);
    image.replace(16, 16, record);
    image.replace(codec::ClockOffset, 3, QByteArray::fromHex("05 09 03"));
    image.replace(codec::DeviceTextOffset, 16, QByteArray("KOLVAR22 V1.0   "));
    return image;
}

// Reads what the far end sent until `done`, as the port's receive events would.
bool receiveUntil(Exchange& exchange, const std::function<bool()>& done)
{
    return QTest::qWaitFor([&] {
        exchange.receive(4096);
        return done();
    }, 20000);
}

TEST(ExchangeRead, ATableComesInWholeDecodedIntoTheGridWithoutPaceAndAReplyFrameAfterIt)
{
    Line line;
    ASSERT_TRUE(line.pty.ok());
    QSignalSpy started(&line.exchange, &Exchange::tableStarted);
    QSignalSpy rows(&line.exchange, &Exchange::rowDecoding);
    QSignalSpy replies(&line.exchange, &Exchange::replyReceived);
    int progress = 0;
    QObject::connect(&line.exchange, &Exchange::progress, [&](int bytes) { progress += bytes; });
    std::vector<ReceivedTable> tables;
    QObject::connect(&line.exchange, &Exchange::tableReceived, [&](const ReceivedTable& t) { tables.push_back(t); });

    line.exchange.requestTable();
    EXPECT_TRUE(line.exchange.busy());
    EXPECT_EQ(line.pty.receive(3), QByteArray("\x02\x01\x01", 3));
    ASSERT_TRUE(line.pty.send(kolvar22Image()));
    ASSERT_TRUE(receiveUntil(line.exchange, [&] { return !tables.empty(); }));

    EXPECT_EQ(started.count(), 1);
    EXPECT_EQ(rows.count(), 127);
    EXPECT_EQ(progress, codec::ImageSize);
    EXPECT_EQ(line.recorder.reads, kolvar22Image());
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].model, codec::Model::Kolvar22);
    EXPECT_TRUE(tables[0].checks.beep);
    EXPECT_FALSE(tables[0].checks.flash);
    EXPECT_EQ(tables[0].clockText, QStringLiteral("09:05  Mercoledi"));
    EXPECT_EQ(tables[0].deviceText, QStringLiteral("KOLVAR22 V1.0   "));
    EXPECT_EQ(rowText(line.grid, 2), sampleKolvar22);
    EXPECT_EQ(rowText(line.grid, 3), QString(26, QLatin1Char('-')));
    EXPECT_FALSE(line.port.Enabled());
    EXPECT_FALSE(line.exchange.busy());
    EXPECT_EQ(line.exchange.receiveBuffer().position(), 0);

    // The reply to a remote write, in two chunks, on a port opened again.
    line.exchange.begin();
    ASSERT_TRUE(line.pty.send(QByteArray("\x02\x03", 2)));
    ASSERT_TRUE(receiveUntil(line.exchange, [&] { return line.exchange.receiveBuffer().position() == 2; }));
    EXPECT_EQ(replies.count(), 0);
    ASSERT_TRUE(line.pty.send(QByteArray(1, '\x08')));
    ASSERT_TRUE(receiveUntil(line.exchange, [&] { return replies.count() > 0; }));
    EXPECT_EQ(replies.at(0).at(0).toInt(), 8);
    EXPECT_FALSE(line.port.Enabled());
    EXPECT_FALSE(line.exchange.busy());
}

} // namespace

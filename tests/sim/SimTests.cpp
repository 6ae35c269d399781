// pradix-boxsim seen from the program's side of the line: every test starts
// the real simulator and talks to it over its pseudo-terminal.

#include "BoxSim.h"
#include "RawPort.h"

#include <QRegularExpression>
#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kImage = 2067;
constexpr std::size_t kWritten = 2051;
const Bytes kRead{0x02, 0x01, 0x01};
const Bytes kRemoteRead{0x02, 0x01, 0x05};
const Bytes kWriteRequest{0x02, 0x01, 0x02};
const Bytes kRemoteWrite{0x02, 0x01, 0x06};
const Bytes kDone{0x02, 0x03, 0x07};
const Bytes kError{0x02, 0x03, 0x08};

// Generous bounds so a loaded machine never fails a test; nothing measures them.
constexpr auto kLong = 10s;
// How long a test listens to be sure that nothing more comes.
constexpr auto kQuiet = 300ms;

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

std::string text(const Bytes& bytes, std::size_t from, std::size_t count)
{
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                       bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

std::string readText(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes request(RawPort& port, const Bytes& frame, std::size_t expect)
{
    EXPECT_TRUE(port.send(frame));
    return port.receive(expect, kLong);
}

bool isKey(std::uint8_t b)
{
    return b >= 1 && b <= 12;
}

// A used Kolvar22 record as the box keeps it.
void checkKolvar22Record(const Bytes& r, std::size_t n, int& highMarks, int& lowMarks)
{
    SCOPED_TRACE("record " + std::to_string(n));
    // Prefix: digits, then fillers to the end.
    bool filling = false;
    for (std::size_t i = 0; i < 6; ++i) {
        ASSERT_TRUE(isKey(r[i]) && r[i] != 12);
        if (filling) {
            ASSERT_EQ(r[i], 11);
        }
        filling = filling || r[i] == 11;
    }
    bool endMark = false;
    for (std::size_t i = 6; i < 10 && !endMark; ++i) {
        const std::uint8_t high = r[i] >> 4;
        const std::uint8_t low = r[i] & 0x0F;
        ASSERT_TRUE(isKey(high));
        if (high == 12) {
            endMark = true;
            ++highMarks;
            break;
        }
        ASSERT_TRUE(isKey(low));
        if (low == 12) {
            endMark = true;
            ++lowMarks;
        }
    }
    if (endMark) {
        EXPECT_EQ(slice(r, 10, 6), Bytes(6, 0));
        return;
    }
    EXPECT_LE(r[10], 48);
    EXPECT_LE(r[11], 48);
    EXPECT_TRUE(r[12] == 1 || r[12] == 2 || r[12] == 10);
    EXPECT_EQ(r[13], 11);
    EXPECT_TRUE(r[14] == 1 || r[14] == 2 || r[14] == 10);
    EXPECT_EQ(r[15], 12);
}

// A used Kolvar1 record: prefix, star, carrier code, hash, zeros.
void checkKolvar1Record(const Bytes& r, std::size_t n, bool& full)
{
    SCOPED_TRACE("record " + std::to_string(n));
    const auto hash = std::find(r.begin(), r.end(), 12);
    ASSERT_NE(hash, r.end());
    const auto star = std::find(r.begin(), hash, 11);
    ASSERT_NE(star, hash);
    EXPECT_NE(star, r.begin());
    EXPECT_NE(star + 1, hash);
    for (auto it = r.begin(); it != hash; ++it)
        EXPECT_TRUE((*it >= 1 && *it <= 10) || it == star);
    for (auto it = hash + 1; it != r.end(); ++it)
        EXPECT_EQ(*it, 0);
    full = full || hash + 1 == r.end();
}

void checkClock(const Bytes& image)
{
    const std::uint8_t minutes = image[2048], hours = image[2049], weekday = image[2050];
    EXPECT_TRUE((minutes >> 4) < 6 && (minutes & 0x0F) < 10);
    EXPECT_TRUE(hours < 0x24 && (hours & 0x0F) < 10);
    EXPECT_TRUE(weekday >= 1 && weekday <= 7);
}

class SimTest : public ::testing::Test {
protected:
    bool start(std::vector<std::string> args)
    {
        args.push_back("--log");
        args.push_back(sim.file("box.log"));
        if (!sim.start(args))
            return false;
        return port.open(sim.devicePath());
    }

    BoxSim sim;
    RawPort port;
};

} // namespace

// The sample tables are built from the byte layout by hand; the checks here
// read that layout independently, so a slip in either shows.
TEST_F(SimTest, Kolvar22SampleFollowsTheLayout)
{
    ASSERT_TRUE(start({"--fast"})) << sim.error();
    const Bytes image = request(port, kRead, kImage);
    ASSERT_EQ(image.size(), kImage);

    EXPECT_EQ(image[0], 'U');
    EXPECT_EQ(image[1], 12);
    EXPECT_TRUE(image[2] == 0 || image[2] == 1);
    EXPECT_EQ(image[3], 12);
    const auto prefixEnd = std::find(image.begin() + 4, image.begin() + 13, 12);
    ASSERT_NE(prefixEnd, image.begin() + 13) << "local prefix without its end mark";
    for (auto it = image.begin() + 4; it != prefixEnd; ++it)
        EXPECT_TRUE(*it >= 1 && *it <= 10);
    EXPECT_EQ(image[13], 0);

    // The worked example of a record, byte for byte.
    EXPECT_EQ(slice(image, 16, 16), (Bytes{3, 9, 11, 11, 11, 11, 0x1A, 0x55, 0xBB, 0xBB, 17, 26, 1, 11, 1, 12}));

    int used = 0, highMarks = 0, lowMarks = 0;
    for (std::size_t n = 1; n <= 127; ++n) {
        const Bytes r = slice(image, 16 * n, 16);
        if (r[0] == 0 && r[1] == 0 && r[2] == 0) {
            EXPECT_EQ(r, Bytes(16, 0)) << "record " << n;
            continue;
        }
        ++used;
        checkKolvar22Record(r, n, highMarks, lowMarks);
    }
    EXPECT_GE(used, 5);
    EXPECT_LE(used, 20);
    EXPECT_GE(highMarks, 1);
    EXPECT_GE(lowMarks, 1);
    EXPECT_NE(image[16 * 127], 0) << "the last record should be used, right before the clock";
    checkClock(image);
    EXPECT_EQ(text(image, 2051, 16), "KOLVAR22 V2.10  ");
    EXPECT_FALSE(port.receive(1, kQuiet).size()) << "nothing follows the image";
}

TEST_F(SimTest, Kolvar1SampleFollowsTheLayout)
{
    ASSERT_TRUE(start({"--fast", "--model", "1"})) << sim.error();
    const Bytes image = request(port, kRead, kImage);
    ASSERT_EQ(image.size(), kImage);

    EXPECT_EQ(image[0], 'Y');
    EXPECT_EQ(image[1], 12);
    EXPECT_EQ(image[3], 12);
    EXPECT_EQ(slice(image, 12, 4), Bytes(4, 0)) << "no beep or flash on the small box";
    EXPECT_EQ(slice(image, 16, 16), (Bytes{3, 9, 11, 1, 10, 5, 5, 12, 0, 0, 0, 0, 0, 0, 0, 0}));

    int used = 0;
    bool full = false;
    for (std::size_t n = 1; n <= 127; ++n) {
        const Bytes r = slice(image, 16 * n, 16);
        if (r[0] == 0 && r[1] == 0 && r[2] == 0) {
            EXPECT_EQ(r, Bytes(16, 0)) << "record " << n;
            continue;
        }
        ++used;
        checkKolvar1Record(r, n, full);
    }
    EXPECT_GE(used, 5);
    EXPECT_TRUE(full) << "one record should use all sixteen positions";
    checkClock(image);
    EXPECT_EQ(text(image, 2051, 16), "KOLVAR1 V1.04   ");
}

TEST_F(SimTest, ReadRequestsAreFoundInSplitChunksAndNoise)
{
    ASSERT_TRUE(start({"--fast", "--unit"})) << sim.error();
    const Bytes first = request(port, kRead, kImage);
    ASSERT_EQ(first.size(), kImage);

    // Noise, then a remote read whose first byte arrives on its own.
    ASSERT_TRUE(port.send({0xFF, 0x00, 0x02}));
    ASSERT_TRUE(sim.waitForLog("RX FF 00 02\n"));
    EXPECT_EQ(request(port, {0x01, 0x05}, kImage), first);

    const std::string log = sim.readLog();
    EXPECT_NE(log.find("FRAME read 02 01 01\n"), std::string::npos);
    EXPECT_NE(log.find("RX 01 05\n"), std::string::npos);
    EXPECT_NE(log.find("FRAME remote-read 02 01 05\n"), std::string::npos);
    EXPECT_NE(log.find("NOTE skipped 2 bytes outside any frame"), std::string::npos);
    static const QRegularExpression stampedLine(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} RX 02 01 01$)",
                                                QRegularExpression::MultilineOption);
    EXPECT_TRUE(stampedLine.match(QString::fromStdString(log)).hasMatch()) << log;
}

TEST_F(SimTest, WrittenTableIsKeptWithTheBoxsOwnText)
{
    ASSERT_TRUE(start({"--fast", "--unit", "--save", sim.file("saved.bin"), "--state", sim.file("state")}))
        << sim.error();
    const Bytes original = request(port, kRead, kImage);
    ASSERT_EQ(original.size(), kImage);

    EXPECT_EQ(request(port, kRemoteWrite, 3), kError) << "no table has arrived yet";

    // A changed table, with bytes a cooked line would mangle, sent in the
    // pieces the program uses.
    Bytes table = slice(original, 0, kWritten);
    const Bytes record{0x0D, 0x0A, 0x11, 0x13, 0x03, 11, 0x1A, 0x55, 0xBB, 0xBB, 0, 48, 10, 11, 10, 12};
    std::copy(record.begin(), record.end(), table.begin() + 16 * 9);
    table[2048] = 0x07;
    table[2049] = 0x00;
    table[2050] = 7;
    ASSERT_TRUE(port.send(kWriteRequest));
    ASSERT_TRUE(port.send(slice(table, 0, 16)));
    for (std::size_t n = 1; n <= 127; ++n)
        ASSERT_TRUE(port.send(slice(table, 16 * n, 16)));
    for (std::size_t i = 2048; i < kWritten; ++i)
        ASSERT_TRUE(port.send({table[i]}));
    ASSERT_TRUE(sim.waitForLog("FRAME table 2051 bytes"));
    EXPECT_EQ(request(port, kRead, kImage), original) << "the table waits in the unit for 02 01 06";

    EXPECT_EQ(request(port, kRemoteWrite, 3), kDone);
    EXPECT_EQ(readText(sim.file("state")), "new\n");
    const Bytes after = request(port, kRead, kImage);
    ASSERT_EQ(after.size(), kImage);
    EXPECT_EQ(slice(after, 0, kWritten), table);
    EXPECT_EQ(text(after, 2051, 16), "KOLVAR22 V2.10  ");
    EXPECT_EQ(sim.readSaved(), after);
    const std::string log = sim.readLog();
    EXPECT_NE(log.find("FRAME table 2051 bytes"), std::string::npos);

    // The log gives the table as it arrived: every chunk with its place in
    // the table and its time since the request, in order, nothing missing.
    static const QRegularExpression pieceLine(R"(PIECE \+(\d+\.\d{3}) at (\d+): ([0-9A-F ]+)\n)");
    Bytes logged;
    double lastMs = 0;
    for (const QRegularExpressionMatch &piece : pieceLine.globalMatch(QString::fromStdString(log))) {
        const double ms = piece.captured(1).toDouble();
        EXPECT_GE(ms, lastMs);
        lastMs = ms;
        EXPECT_EQ(piece.captured(2).toULong(), logged.size());
        std::istringstream hex(piece.captured(3).toStdString());
        unsigned value = 0;
        while (hex >> std::hex >> value)
            logged.push_back(static_cast<std::uint8_t>(value));
    }
    EXPECT_EQ(logged, table);

    // A box started from the saved image answers with the written table.
    const std::string saved = sim.savePath();
    port.close();
    sim.stop();
    ASSERT_TRUE(start({"--fast", "--image", saved})) << sim.error();
    EXPECT_EQ(request(port, kRead, kImage), after);
}

// What the unit got of a table cut short stays with it: told to pass it on,
// it leaves the box with a partial table, and says so.
TEST_F(SimTest, HalfWrittenTableReachesTheBoxOnlyInPart)
{
    ASSERT_TRUE(start({"--fast", "--unit", "--state", sim.file("state")})) << sim.error();
    const Bytes original = request(port, kRead, kImage);
    ASSERT_EQ(original.size(), kImage);
    EXPECT_EQ(readText(sim.file("state")), "old\n");

    ASSERT_TRUE(port.send(kWriteRequest));
    ASSERT_TRUE(port.send(Bytes(1000, 0x05)));
    ASSERT_TRUE(sim.waitForLog("FRAME write"));
    port.close();
    ASSERT_TRUE(sim.waitForLog("NOTE table dropped after 1000 of 2051 bytes"));

    // The next exchange is understood as requests again, not as table bytes.
    ASSERT_TRUE(port.open(sim.devicePath()));
    EXPECT_EQ(request(port, kRemoteWrite, 3), kError);
    const Bytes after = request(port, kRead, kImage);
    ASSERT_EQ(after.size(), kImage);
    EXPECT_EQ(slice(after, 0, 1000), Bytes(1000, 0x05));
    EXPECT_EQ(slice(after, 1000, kImage - 1000), slice(original, 1000, kImage - 1000));
    EXPECT_EQ(readText(sim.file("state")), "partial 1000\n");
    EXPECT_NE(sim.readLog().find("NOTE the box holds a partial table: 1000 of 2051 bytes"), std::string::npos);
}

TEST_F(SimTest, DialHangUpAndOtherFramesAreLogged)
{
    ASSERT_TRUE(start({"--fast"})) << sim.error();
    ASSERT_TRUE(port.send({0x02, 0x0B, 0x03, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39}));
    ASSERT_TRUE(port.send({0x02, 0x01, 0x03}));
    ASSERT_TRUE(port.send({0x02, 0x03, 0x03, 0x02, 0x02}));
    ASSERT_TRUE(port.send({0x02, 0x01, 0x09}));
    ASSERT_TRUE(sim.waitForLog("FRAME unknown 02 01 09\n"));
    EXPECT_TRUE(port.receive(1, kQuiet).empty()) << "the dialling unit does not answer these";

    const std::string log = sim.readLog();
    EXPECT_NE(log.find("FRAME dial 0123456789 02 0B 03 30 31 32 33 34 35 36 37 38 39\n"), std::string::npos) << log;
    EXPECT_NE(log.find("FRAME dial 02 01 03\n"), std::string::npos) << log;
    EXPECT_NE(log.find("FRAME hangup 02 03 03 02 02\n"), std::string::npos) << log;
}

// The dialling unit: the remote box answers only within a call when told
// so, the box's own requests work throughout, and a box alone on the line
// leaves the unit's commands unanswered.
TEST_F(SimTest, UnitAnswersTheRemoteBoxWithinACall)
{
    const Bytes dial{0x02, 0x05, 0x03, 0x30, 0x34, 0x35, 0x31};
    const Bytes hangUp{0x02, 0x03, 0x03, 0x02, 0x02};

    ASSERT_TRUE(start({"--fast"})) << sim.error();
    const Bytes image = request(port, kRead, kImage);
    ASSERT_EQ(image.size(), kImage);
    ASSERT_TRUE(port.send(dial));
    ASSERT_TRUE(port.send(kRemoteRead));
    ASSERT_TRUE(port.send(kRemoteWrite));
    ASSERT_TRUE(sim.waitForLog("FRAME remote-write"));
    EXPECT_TRUE(port.receive(1, kQuiet).empty()) << "a box alone on the line knows no remote commands";
    EXPECT_TRUE(sim.waitForLog("NOTE no dialling unit on the line: not answered"));

    ASSERT_TRUE(start({"--fast", "--unit", "--need-dial"})) << sim.error();
    ASSERT_TRUE(port.send(kRemoteRead));
    ASSERT_TRUE(port.send({0x02, 0x01, 0x03}));
    ASSERT_TRUE(port.send(kRemoteRead));
    ASSERT_TRUE(sim.waitForLog("FRAME dial 02 01 03"));
    EXPECT_TRUE(port.receive(1, kQuiet).empty()) << "no call yet: an empty number dials no one";
    EXPECT_EQ(request(port, kRead, kImage), image) << "the box's own read needs no call";

    ASSERT_TRUE(port.send(dial));
    EXPECT_EQ(request(port, kRemoteRead, kImage), image);
    ASSERT_TRUE(port.send(hangUp));
    ASSERT_TRUE(port.send(kRemoteWrite));
    ASSERT_TRUE(sim.waitForLog("FRAME remote-write"));
    EXPECT_TRUE(port.receive(1, kQuiet).empty()) << "the call has ended";

    const std::string log = sim.readLog();
    EXPECT_NE(log.find("FRAME dial 0451 02 05 03 30 34 35 31\n"), std::string::npos) << log;
    EXPECT_NE(log.find("NOTE call to 0451\n"), std::string::npos) << log;
    EXPECT_NE(log.find("FRAME hangup 02 03 03 02 02\n"), std::string::npos) << log;
    std::size_t unanswered = 0;
    for (std::size_t at = 0; (at = log.find("NOTE no call under way: not answered", at)) != std::string::npos; ++at)
        ++unanswered;
    EXPECT_EQ(unanswered, 3u) << log;

    // A remote box that refuses even a whole table.
    ASSERT_TRUE(start({"--fast", "--unit", "--reply-error", "--state", sim.file("state")})) << sim.error();
    Bytes changed = slice(image, 0, kWritten);
    changed[20] ^= 0x01;
    ASSERT_TRUE(port.send(kWriteRequest));
    ASSERT_TRUE(port.send(changed));
    ASSERT_TRUE(sim.waitForLog("FRAME table 2051 bytes"));
    EXPECT_EQ(request(port, kRemoteWrite, 3), kError);
    EXPECT_EQ(request(port, kRead, kImage), image);
    EXPECT_EQ(readText(sim.file("state")), "old\n");
}

// The unit as an audit meets it: each number dialled reaches a box of its
// own, answering or misbehaving as listed; a number not listed reaches the
// box of --image; the log tells every dial and every hang-up.
TEST_F(SimTest, EachCustomerAnswersAsListed)
{
    ASSERT_TRUE(start({"--fast"})) << sim.error();
    const Bytes image = request(port, kRead, kImage);
    ASSERT_EQ(image.size(), kImage);
    Bytes other = image;
    other[16 * 3 + 5] ^= 0x01;
    std::ofstream(sim.file("other.img"), std::ios::binary)
        .write(reinterpret_cast<const char*>(other.data()), static_cast<std::streamsize>(other.size()));

    std::ofstream(sim.file("customers")) << "# the rest of the customers\n\n0455:stop:100\n0456:garbage:20\n0457:error\n";
    ASSERT_TRUE(start({"--fast", "--unit", "--customer", "0451:ok:" + sim.file("other.img"), "--customer",
                       "0452:no-answer", "--customer", "0453:busy", "--customers", sim.file("customers")}))
        << sim.error();
    const auto call = [this](const std::string& number, std::size_t expect) {
        Bytes dial{0x02, static_cast<std::uint8_t>(number.size() + 1), 0x03};
        dial.insert(dial.end(), number.begin(), number.end());
        EXPECT_TRUE(port.send(dial));
        Bytes answer = request(port, kRemoteRead, expect);
        if (expect < kImage) {
            EXPECT_TRUE(port.receive(1, kQuiet).empty()) << number << ": nothing more";
        }
        EXPECT_TRUE(port.send({0x02, 0x03, 0x03, 0x02, 0x02}));
        return answer;
    };
    EXPECT_EQ(call("0451", kImage), other);
    EXPECT_TRUE(call("0452", 0).empty());
    EXPECT_TRUE(call("0453", 0).empty());
    EXPECT_EQ(call("0455", 100), slice(image, 0, 100));
    const Bytes noisy = call("0456", 20 + kImage);
    ASSERT_EQ(noisy.size(), 20 + kImage);
    EXPECT_EQ(slice(noisy, 20, kImage), image);
    EXPECT_EQ(call("0457", 3), kError);
    EXPECT_EQ(call("0458", kImage), image) << "a number not listed";
    // A prefix dialled first does not hide the customer's number.
    ASSERT_TRUE(port.send({0x02, 0x02, 0x03, '0'}));
    EXPECT_EQ(call("0451", kImage), other);
    // Refused and not answered, a written table stays out of the box.
    ASSERT_TRUE(port.send({0x02, 0x05, 0x03, '0', '4', '5', '7'}));
    ASSERT_TRUE(port.send(kWriteRequest));
    ASSERT_TRUE(port.send(slice(image, 0, kWritten)));
    EXPECT_EQ(request(port, kRemoteWrite, 3), kError);
    ASSERT_TRUE(port.send({0x02, 0x03, 0x03, 0x02, 0x02}));
    ASSERT_TRUE(sim.waitForLog("NOTE call ended\n"));

    // A call the program leaves open is told when the unit stops.
    ASSERT_TRUE(port.send({0x02, 0x05, 0x03, '0', '4', '5', '2'}));
    ASSERT_TRUE(sim.waitForLog("NOTE call to 0452"));
    EXPECT_EQ(sim.stop(), 0);
    const std::string log = sim.readLog();
    EXPECT_NE(log.find("NOTE fault: 0453 is busy\n"), std::string::npos) << log;
    EXPECT_NE(log.find("NOTE fault: 0452 does not answer\n"), std::string::npos) << log;
    EXPECT_NE(log.find("NOTE no call under way: not answered"), std::string::npos) << "the busy number's read";
    std::size_t dials = 0, hangUps = 0;
    for (std::size_t at = 0; (at = log.find("FRAME dial 04", at)) != std::string::npos; ++at)
        ++dials;
    for (std::size_t at = 0; (at = log.find("FRAME hangup", at)) != std::string::npos; ++at)
        ++hangUps;
    EXPECT_EQ(dials, 10u);
    EXPECT_EQ(hangUps, 9u);
    EXPECT_NE(log.find("NOTE stopped with the line taken"), std::string::npos) << log;
}

TEST_F(SimTest, ImageFileIsServedByteForByte)
{
    Bytes image(kImage);
    for (std::size_t i = 0; i < kImage; ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 1);   // every byte value, control codes included
    image[0] = 'U';
    std::ofstream(sim.file("image.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));

    ASSERT_TRUE(start({"--fast", "--image", sim.file("image.bin")})) << sim.error();
    EXPECT_EQ(request(port, kRead, kImage), image);
}

TEST(SimCommandLine, WrongImagesAndArgumentsAreRefused)
{
    BoxSim sim;
    for (std::size_t size : {std::size_t{2066}, std::size_t{2068}}) {
        std::ofstream(sim.file("image.bin"), std::ios::binary | std::ios::trunc) << std::string(size, 'U');
        EXPECT_FALSE(sim.start({"--image", sim.file("image.bin")})) << size;
        EXPECT_EQ(sim.stop(), 1) << size;
    }
    EXPECT_FALSE(sim.start({"--image", sim.file("missing.bin")}));
    EXPECT_EQ(sim.stop(), 1);

    const std::vector<std::vector<std::string>> bad{
        {"--model", "3"}, {"--fault", "stop:2068"}, {"--fault", "stall-write:2051"}, {"--fault", "hangup:-1"}, {"--fault", "later"},
        {"--fault", "silent", "--fault", "error"}, {"--link", "com0"}, {"--link", "../com1"},
        {"--link"}, {"--burst", "0"}, {"--model", "1", "--image", "x"}, {"--bogus"},
        {"--reply-error"}, {"--need-dial"}, {"--customer", "0451:ok"},
        {"--unit", "--customer", "0451"}, {"--unit", "--customer", "04a1:ok"}, {"--unit", "--customer", "0451:later"},
        {"--unit", "--customer", "0451:stop:2067"}, {"--unit", "--customer", "0451:garbage:0"},
        {"--unit", "--customer", "0451:ok:"}, {"--unit", "--customer", "123456789012345678901:ok"},
        {"--unit", "--customer", "0451:ok", "--customer", "0451:busy"}, {"--unit", "--customers", sim.workDir()}};
    for (const auto& args : bad) {
        EXPECT_FALSE(sim.start(args)) << args[0];
        EXPECT_EQ(sim.stop(), 2) << args[0];
    }

    ASSERT_TRUE(sim.start({"--help"}));
    EXPECT_EQ(sim.devicePath(), "Usage: pradix-boxsim [options]");
    int status = -1;
    EXPECT_TRUE(sim.waitForExit(kLong, &status));
    EXPECT_EQ(status, 0);
}

TEST_F(SimTest, SilentBoxNeverAnswers)
{
    ASSERT_TRUE(start({"--fast", "--unit", "--fault", "silent"})) << sim.error();
    ASSERT_TRUE(port.send(kRead));
    ASSERT_TRUE(port.send(kRemoteWrite));
    ASSERT_TRUE(sim.waitForLog("FRAME remote-write"));
    EXPECT_TRUE(port.receive(1, kQuiet).empty());
}

TEST_F(SimTest, FaultsShapeTheAnswer)
{
    BoxSim reference;
    ASSERT_TRUE(reference.start({"--fast"})) << reference.error();
    RawPort refPort;
    ASSERT_TRUE(refPort.open(reference.devicePath()));
    const Bytes image = request(refPort, kRead, kImage);
    ASSERT_EQ(image.size(), kImage);

    ASSERT_TRUE(start({"--fast", "--unit", "--fault", "stop:100"})) << sim.error();
    EXPECT_EQ(request(port, kRead, 100), slice(image, 0, 100));
    EXPECT_TRUE(port.receive(1, kQuiet).empty());
    EXPECT_EQ(request(port, kRemoteRead, 100), slice(image, 0, 100)) << "every read stops the same way";
    EXPECT_TRUE(port.receive(1, kQuiet).empty());

    ASSERT_TRUE(start({"--fast", "--fault", "error"})) << sim.error();
    EXPECT_EQ(request(port, kRead, 3), kError);
    EXPECT_TRUE(port.receive(1, kQuiet).empty());

    ASSERT_TRUE(start({"--fast", "--fault", "garbage:50"})) << sim.error();
    const Bytes answer = request(port, kRead, 50 + kImage);
    ASSERT_EQ(answer.size(), 50 + kImage);
    for (std::size_t i = 0; i < 50; ++i)
        EXPECT_TRUE(answer[i] != 0x02 && answer[i] != 'U' && answer[i] != 'Y') << i;
    EXPECT_EQ(slice(answer, 50, kImage), image);
}

TEST_F(SimTest, HangUpFaultDropsTheLineAndEnds)
{
    const std::string config = sim.file("config");
    sim.setEnvironment("XDG_CONFIG_HOME", config);
    ASSERT_TRUE(start({"--fault", "hangup:300", "--link", "com3"})) << sim.error();
    const Bytes got = request(port, kRead, kImage);
    EXPECT_EQ(got.size(), 300u);
    EXPECT_EQ(got[0], 'U');
    EXPECT_TRUE(port.hungUp());
    int status = -1;
    ASSERT_TRUE(sim.waitForExit(kLong, &status));
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(std::filesystem::is_symlink(config + "/pradix/ports/com3"));
    EXPECT_NE(sim.readLog().find("NOTE fault: hanging up the line"), std::string::npos);
}

// A program opens the port for every exchange. What the box sent into a
// closed port is lost, as on a real line, and the next exchange starts clean.
TEST_F(SimTest, PacedAnswerSurvivesThePortClosingMidway)
{
    ASSERT_TRUE(start({})) << sim.error();
    EXPECT_EQ(request(port, kRead, 100).size(), 100u);
    port.close();
    ASSERT_TRUE(sim.waitForLog("NOTE line closed by the other end"));

    ASSERT_TRUE(port.open(sim.devicePath()));
    const Bytes image = request(port, kRead, kImage);
    ASSERT_EQ(image.size(), kImage);
    EXPECT_EQ(image[0], 'U');
    EXPECT_EQ(text(image, 2051, 16), "KOLVAR22 V2.10  ");
    // At line pace the bytes come a few at a time, not in one piece.
    EXPECT_GT(port.chunks(), 50u);
    EXPECT_TRUE(port.receive(1, kQuiet).empty()) << "nothing of the first answer is left over";

    const std::string log = sim.readLog();
    EXPECT_NE(log.find("bytes not sent yet"), std::string::npos) << log;

    // Sent at once, most of an answer is still in the line when the port
    // closes: the next opening finds none of it.
    ASSERT_TRUE(start({"--fast"})) << sim.error();
    EXPECT_EQ(request(port, kRead, 100).size(), 100u);
    ASSERT_TRUE(sim.waitForLog("NOTE sent 2067 bytes"));
    port.close();
    ASSERT_TRUE(sim.waitForLog("NOTE line closed by the other end"));
    ASSERT_TRUE(port.open(sim.devicePath()));
    EXPECT_TRUE(port.receive(1, kQuiet).empty()) << "the answer sent into the closed port is lost";
    EXPECT_EQ(sim.readLog().find("cannot flush"), std::string::npos) << sim.readLog();
}

TEST(SimLifecycle, PortLinkFollowsTheSimulator)
{
    BoxSim sim;
    const std::string config = sim.file("config");
    const std::string link = config + "/pradix/ports/com7";
    sim.setEnvironment("XDG_CONFIG_HOME", config);

    // A link left by a simulator that did not end cleanly is taken over.
    std::filesystem::create_directories(config + "/pradix/ports");
    std::filesystem::create_symlink("/dev/pts/nothing", link);

    for (int signal : {SIGTERM, SIGINT}) {
        ASSERT_TRUE(sim.start({"--link", "Com7"})) << sim.error();
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.devicePath());
        kill(sim.pid(), signal);
        int status = -1;
        ASSERT_TRUE(sim.waitForExit(kLong, &status));
        EXPECT_EQ(status, 0);
        EXPECT_FALSE(std::filesystem::is_symlink(link)) << signal;
    }

    // The operator's own link, and a running simulator's, are neither replaced nor removed.
    std::filesystem::create_symlink("/dev/ttyUSB0", link);
    EXPECT_FALSE(sim.start({"--link", "com7"}));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), "/dev/ttyUSB0");
    std::filesystem::remove(link);
    ASSERT_TRUE(sim.start({"--link", "com7"})) << sim.error();
    BoxSim second;
    second.setEnvironment("XDG_CONFIG_HOME", config);
    EXPECT_FALSE(second.start({"--link", "com7"}));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.devicePath());
    sim.stop();
    std::filesystem::remove(link);

    // Something that is not a link is never replaced.
    std::ofstream(link) << "keep";
    EXPECT_FALSE(sim.start({"--link", "com7"}));
    EXPECT_EQ(BoxSim::readTextFile(link), "keep");
}

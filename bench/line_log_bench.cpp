// What the line log costs the exchange: the time an observer call takes on
// the thread that talks to the box (the writer thread formats and writes on
// its own). Prints the median per call over batches of pieces written and
// chunks read, as a write and a read hand them over.
#include "device/LineLog.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    LineLog log(dir.filePath(QStringLiteral("line.log")));
    const std::uint8_t record[16] = { 3, 9, 11, 11, 11, 11, 0x1A, 0x55, 0xBB, 0xBB, 17, 26, 1, 11, 1, 12 };
    std::uint8_t chunk[64] = {};

    constexpr int batches = 31;
    constexpr int perBatch = 2000;
    std::vector<double> times;
    for (int b = 0; b < batches; ++b) {
        log.action(QStringLiteral("Scrivi Eeprom"));
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < perBatch; i += 2) {
            log.written(record, 16, 16);
            log.read(chunk, 64);
        }
        const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
        times.push_back(spent.count() / perBatch);
        log.flush();
    }
    if (!log.failure().isEmpty()) {
        std::fprintf(stderr, "line_log: %s\n", qPrintable(log.failure()));
        return 1;
    }
    std::nth_element(times.begin(), times.begin() + batches / 2, times.end());
    std::printf("BENCH line_log_call_us %.2f us target < 20\n", times[batches / 2]);
    return 0;
}

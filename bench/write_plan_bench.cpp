// Planning the write of a whole Kolvar22 table with every association in
// use: the editor's steps through the 127 associations, the completions and
// every piece encoded. It runs between the click on "Scrivi Eeprom" and the
// first byte on the line. Prints the median time per plan.
#include "FullImage.h"

#include "device/WritePlan.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

int main()
{
    const bench::Image image = bench::fullImage(codec::Model::Kolvar22);
    TableGrid grid;
    grid.fillData(QString());
    codec::decodeHeader(image.data(), codec::Model::Kolvar22, grid);
    for (int r = 2; r <= TableGrid::LastDataRow; ++r)
        codec::decodeRecord(image.data() + codec::RecordSize * (r - 1), codec::Model::Kolvar22, grid, r);
    // The editor on another association, so the steps refill the boxes all the way.
    const writeplan::EditorState editor { 5, QStringLiteral("Feriale"), QStringLiteral("2") };

    std::size_t sink = 0;
    const writeplan::Plan check = writeplan::plan(grid, editor);
    if (!check.ok()) {
        std::fprintf(stderr, "write_plan: the table was refused: %s\n", qPrintable(check.message));
        return 1;
    }
    for (int i = 0; i < 20; ++i) // warm up
        sink += writeplan::plan(grid, editor).pieces.size();
    constexpr int batches = 31;
    constexpr int perBatch = 20;
    std::vector<double> times;
    for (int b = 0; b < batches; ++b) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < perBatch; ++i)
            sink += writeplan::plan(grid, editor).pieces.size();
        const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
        times.push_back(spent.count() / perBatch);
    }
    std::nth_element(times.begin(), times.begin() + batches / 2, times.end());
    std::fprintf(stderr, "write_plan: %zu pieces a plan (checksum %zu)\n", check.pieces.size(), sink);
    std::printf("BENCH write_plan_us %.1f us target < 500\n", times[batches / 2]);
    return 0;
}

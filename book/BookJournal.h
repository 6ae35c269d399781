#pragma once

#include "book/CustomerCard.h"

#include <QByteArray>

#include <cstdint>

// The journal beside the book ("RUBRICA.DAT.journal") as bytes: one record
// of a card save, written whole before the book is touched.
namespace journal {

// A card save: which book (its inode: a device number may change across a
// restart), where, how long the book was before, the new card and what the
// book held there before.
struct Record
{
    std::uint64_t inode = 0;
    std::int64_t offset = 0;
    std::int64_t lengthBefore = 0;
    CustomerCard card;
    // Zeros past the book's end; unknown in a journal an older Pradix left.
    CustomerCard before;
    bool older = false;
};

// What the journal's bytes hold: nothing (none, or one emptied after its
// save), a record cut short, or a whole record.
enum class State { None, CutShort, Whole };

// The journal's length: a record of fixed size, so that a new one always
// covers the last one whole.
constexpr int Size = 8 + 3 * 8 + 2 * CustomerCard::Size + 32;
// Further than any book can reach: offsets past it are not a save of ours,
// and sums of two stay far from the 64-bit limit.
constexpr std::int64_t LargestOffset = std::int64_t(1) << 50;

// The bytes of a record as they go to the journal, and back.
QByteArray bytesOf(const Record& record);
State read(const QByteArray& bytes, Record& record);

} // namespace journal

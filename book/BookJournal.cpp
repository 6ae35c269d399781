#include "book/BookJournal.h"

#include <QCryptographicHash>
#include <QtEndian>

#include <cstring>

// A record is taken only with its magic, its length and its checksum right;
// a cut-short or stale write fails one of them.
//   "PRXJRNL2", inode, offset, length before (each 8 bytes, little-endian),
//   the new card, the bytes the book held there, SHA-256 of all before it.
// An older Pradix wrote "PRXJRNL1", device, inode, offset, length before, the
// new card and the checksum: read, but never carried out over a card it
// cannot tell apart from another book's.
namespace journal {

namespace {

constexpr char JournalMagic[8] = { 'P', 'R', 'X', 'J', 'R', 'N', 'L', '2' };
constexpr char OlderJournalMagic[8] = { 'P', 'R', 'X', 'J', 'R', 'N', 'L', '1' };
constexpr int JournalHeader = 8 + 3 * 8;
constexpr int JournalDigest = 32;
constexpr int OlderJournalHeader = 8 + 4 * 8;
constexpr int OlderRecordSize = OlderJournalHeader + CustomerCard::Size + JournalDigest;

QByteArray digestOf(const char* data, int count)
{
    return QCryptographicHash::hash(QByteArrayView(data, count), QCryptographicHash::Sha256);
}

bool wholeRecord(const QByteArray& bytes, int size)
{
    return bytes.size() == size && digestOf(bytes.constData(), size - JournalDigest) == bytes.right(JournalDigest);
}

static_assert(Size == JournalHeader + 2 * CustomerCard::Size + JournalDigest);

} // namespace

QByteArray bytesOf(const Record& r)
{
    QByteArray bytes(Size, '\0');
    char* at = bytes.data();
    std::memcpy(at, JournalMagic, 8);
    qToLittleEndian<quint64>(r.inode, at + 8);
    qToLittleEndian<qint64>(r.offset, at + 16);
    qToLittleEndian<qint64>(r.lengthBefore, at + 24);
    std::memcpy(at + JournalHeader, r.card.data(), CustomerCard::Size);
    std::memcpy(at + JournalHeader + CustomerCard::Size, r.before.data(), CustomerCard::Size);
    const QByteArray digest = digestOf(at, Size - JournalDigest);
    std::memcpy(at + Size - JournalDigest, digest.constData(), JournalDigest);
    return bytes;
}

State read(const QByteArray& bytes, Record& r)
{
    const bool current = bytes.size() >= 8 && std::memcmp(bytes.constData(), JournalMagic, 8) == 0;
    const bool older = bytes.size() >= 8 && std::memcmp(bytes.constData(), OlderJournalMagic, 8) == 0;
    if (!current && !older)
        return State::None; // none, or one emptied after its save
    if (!wholeRecord(bytes, current ? Size : OlderRecordSize))
        return State::CutShort;
    const char* at = bytes.constData() + (older ? 16 : 8); // an older one's device is of no use
    r.inode = qFromLittleEndian<quint64>(at);
    r.offset = qFromLittleEndian<qint64>(at + 8);
    r.lengthBefore = qFromLittleEndian<qint64>(at + 16);
    r.older = older;
    const char* cards = bytes.constData() + (older ? OlderJournalHeader : JournalHeader);
    std::memcpy(r.card.data(), cards, CustomerCard::Size);
    r.before = CustomerCard();
    if (!older)
        std::memcpy(r.before.data(), cards + CustomerCard::Size, CustomerCard::Size);
    return State::Whole;
}

} // namespace journal

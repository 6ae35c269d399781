#pragma once

#include "book/CustomerCard.h"

#include <QString>

#include <cstdint>
#include <stdexcept>

// Why an operation on the address book failed. `message()` is the whole text
// for the operator, in Italian, ready for a plain message box; `reason()` is
// only its cause ("il disco è pieno").
class AddressBookError : public std::runtime_error
{
public:
    enum class Step { Open, Create, Position, Read, Write, Sort };

    AddressBookError(Step step, const QString& message, const QString& reason);

    Step step() const { return step_; }
    const QString& message() const { return message_; }
    const QString& reason() const { return reason_; }

private:
    Step step_;
    QString message_;
    QString reason_;
};

// RUBRICA.DAT: customer cards one after another, nothing else. Cards are
// counted from 0 here; the operator sees index + 1. A file whose length is no
// multiple of a card ends with a partial card: it is reported, never read, and
// never counted. Every failure throws AddressBookError; after one the file is
// as it was before the call and an open book stays open.
class AddressBookFile
{
public:
    static const QString DefaultName; // "RUBRICA.DAT", in the folder the program was started in

    AddressBookFile() = default;
    ~AddressBookFile();
    AddressBookFile(const AddressBookFile&) = delete;
    AddressBookFile& operator=(const AddressBookFile&) = delete;

    // Opens the book for reading and writing at card 0, creating it empty when
    // it does not exist; an earlier opening is let go. A book the operator
    // may only read is opened for reading: browsing works, writing and
    // sorting report that the file is read-only.
    void open(const QString& path = DefaultName);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    bool isReadOnly() const { return readOnly_; }
    const QString& path() const { return path_; }

    std::int64_t length() const;
    int cardCount() const;
    bool hasPartialCard() const;

    // Any index from 0 up, past the end included.
    void seek(int index);
    int position() const { return position_; }
    // At or past the end of the file (a partial card at the end is not the end).
    bool atEnd() const;

    // The card at the position; the position moves on by one card. Fails at
    // the end and on a partial card, leaving `card` untouched.
    void readCard(CustomerCard& card);
    // Writes the card at the position, which may be any existing card or the
    // index just after the last one (a new card); the position moves on by
    // one card. The card is on disk when this returns. A write that fails
    // half-way puts back what the file held there.
    void writeCard(const CustomerCard& card);

    // Sorts the whole book by surname, leaving out cards whose surname is
    // empty; cards with equal surnames keep their order. The book is first
    // opened again at card 0 (another program may have replaced the file).
    // The sorted book is written beside the old one and takes its place only
    // once it is whole on disk, so a failure at any step leaves the old file
    // as it was, open at card 0. Afterwards the sorted book is open,
    // positioned after its last card. Returns the number of cards in it.
    // Memory: the book once, plus an index a card.
    int sortBySurname();

private:
    void openFile(const QString& path);
    [[noreturn]] void fail(AddressBookError::Step step, int errorNumber, int card = -1) const;
    [[noreturn]] void fail(AddressBookError::Step step, const QString& reason, int card = -1) const;
    bool writeAll(int fd, const void* data, size_t count, std::int64_t offset) const;
    void requireOpen(AddressBookError::Step step, int card) const;
    void requireWritable(AddressBookError::Step step, int card) const;

    int fd_ = -1;
    bool readOnly_ = false;
    int position_ = 0;
    QString path_;
};

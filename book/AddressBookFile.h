#pragma once

#include "book/AddressBookError.h"
#include "book/BookFileSystem.h"
#include "book/BookJournal.h"
#include "book/CustomerCard.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// RUBRICA.DAT: customer cards one after another, nothing else. Cards are
// counted from 0 here; the operator sees index + 1. A file whose length is no
// multiple of a card ends with a partial card: it is reported, never read, and
// never counted. Every failure throws AddressBookError; after one the file is
// as it was before the call and an open book stays open.
//
// One writer at a time: the program that writes holds an advisory lock on the
// book for as long as it keeps it open; another program finds it locked and
// opens it for reading only. Before every write the open file is checked to
// be still the one at the book's name, so nothing is written into a file that
// was replaced and that nobody would read again.
//
// A card save survives a crash or a power cut at any byte: the new card first
// goes to a journal beside the book ("RUBRICA.DAT.journal"), which is made
// lasting on disk, and only then into the book. A journal found whole on
// opening means the save was cut short; it is carried out then, where the book
// still holds the card it replaced, the new one or a mix of the two, and is
// otherwise kept aside and told (a journal cut short means the book was never
// touched). The book itself keeps the plain format every installation reads.
class AddressBookFile
{
public:
    static const QString DefaultName; // "RUBRICA.DAT", in the folder the program was started in

    enum class Access {
        Write,    // the address book window: creates the book, takes the writer's lock
        ReadOnly, // listing: no lock, never changes a file, sees a cut-short save as completed
    };

    explicit AddressBookFile(BookFileSystem& files = BookFileSystem::disk());
    ~AddressBookFile();
    AddressBookFile(const AddressBookFile&) = delete;
    AddressBookFile& operator=(const AddressBookFile&) = delete;

    // Opens the book at card 0; for writing it is created empty (readable by
    // the user alone) when it does not exist. A book the operator may only
    // read, or that another program holds, is opened for reading: browsing
    // works, writing and sorting report why they cannot. Opening the file
    // already open keeps it (and its lock); another file takes its place.
    void open(const QString& path = DefaultName, Access access = Access::Write);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    bool isReadOnly() const { return readOnly_ != ReadOnly::No; }
    const QString& path() const { return path_; }

    // What the operator must be told once, in Italian, each text for a plain
    // message box: a save cut short and completed on opening, the book held
    // by another program, the book replaced while it was open. Emptied here.
    QStringList takeNotices();

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
    // puts back what the file held there. A book replaced since it was opened
    // is opened again and nothing is written: the index may name another card.
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
    enum class ReadOnly { No, Asked, Permission, HeldElsewhere, Unrecovered };
    // What a whole journal is to the open book: a save that was done, one to
    // carry out, or one for another book (or another content) at that place.
    enum class JournalFit { Foreign, Pending, Done };

    journal::State loadJournal(journal::Record& record) const;
    JournalFit fitOf(const journal::Record& record) const;
    int openJournal(int flags, QString* refused = nullptr) const;
    void keepJournalAside(const journal::Record& record);

    void openFile(const QString& path, Access access, bool tellReplaced);
    void reopen(bool tellReplaced);
    void takeOver();
    void recover();
    void readPendingSave();

    // The sort, step by step: the book read whole, the order made, the sorted
    // copy written beside the book, then put in its place.
    struct ScratchCopy
    {
        QByteArray name;
        int fd = -1;
    };
    static void orderBySurname(const std::vector<CustomerCard>& cards, std::vector<int>& order);
    void readWholeBook(std::vector<CustomerCard>& cards, std::vector<int>& order) const;
    ScratchCopy makeScratchCopy();
    void writeSorted(const ScratchCopy& scratch, const std::vector<CustomerCard>& cards, const std::vector<int>& order);
    void replaceWithSorted(const ScratchCopy& scratch, int count);
    [[noreturn]] void abandonSort(const ScratchCopy& scratch, const QString& reason);
    void removeScratchCopies();
    bool stillAtPath() const;
    void dropJournal();
    QByteArray journalName() const;
    QByteArray folderName() const;
    [[noreturn]] void fail(AddressBookError::Step step, int errorNumber, int card = -1) const;
    [[noreturn]] void fail(AddressBookError::Step step, const QString& reason, int card = -1) const;
    bool writeAll(int fd, const void* data, size_t count, std::int64_t offset) const;
    std::int64_t readAll(int fd, void* data, size_t count, std::int64_t offset) const;
    void requireOpen(AddressBookError::Step step, int card) const;
    void requireWritable(AddressBookError::Step step, int card) const;

    BookFileSystem& files_;
    int fd_ = -1;
    ReadOnly readOnly_ = ReadOnly::No;
    // Told that another program holds the book; told again only after this
    // program has held it itself.
    bool toldHeld_ = false;
    int position_ = 0;
    QString path_;
    // The book's absolute name, and where its bytes lie (a link followed).
    QByteArray name_;
    QByteArray realPath_;
    // The journal, made at the first save and kept until the book is closed.
    int journalFd_ = -1;
    // For a book opened for reading: a save cut short, shown as completed.
    bool pendingSave_ = false;
    journal::Record pending_;
    QStringList notices_;
};

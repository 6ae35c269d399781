#pragma once

#include <QString>

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

    // The cause of a system error in the operator's words.
    static QString reasonFor(int errorNumber);
    // The whole text for a step on the book at `path` that failed at `card`
    // (counted from 0; the operator sees it + 1).
    static QString messageFor(Step step, const QString& path, const QString& reason, int card);

private:
    Step step_;
    QString message_;
    QString reason_;
};

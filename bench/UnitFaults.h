#pragma once

// What the remote soaks (the address book's and the tool's) share: the
// dialling unit's faults, the simulator's arguments for one, and what the
// box may hold after a session.

#include "bench/SoakSupport.h"

#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace soak {

enum class Fault { None, Silence, Truncation, StallWrite, ErrorReply, HangUp, Garbage, Count };

inline const char* faultName(Fault f)
{
    static const char* names[] = { "none", "silence", "truncation", "stall-write", "error-reply", "hang-up", "garbage" };
    return names[int(f)];
}

// The faults named (all of them for none); an unknown name is said on stderr and gives false.
inline bool pickFaults(const std::vector<std::string>& names, const char* kind, std::vector<Fault>& pick)
{
    for (const std::string& name : names) {
        int found = -1;
        for (int f = 0; f < int(Fault::Count); ++f)
            if (name == faultName(Fault(f)))
                found = f;
        if (found < 0) {
            std::fprintf(stderr, "soak: no %s fault %s\n", kind, name.c_str());
            return false;
        }
        pick.push_back(Fault(found));
    }
    if (pick.empty())
        for (int f = 0; f < int(Fault::Count); ++f)
            pick.push_back(Fault(f));
    return true;
}

using FaultCounts = std::array<long, int(Fault::Count)>;

inline void printFaultCounts(const FaultCounts& passed, const FaultCounts& runs)
{
    for (int f = 0; f < int(Fault::Count); ++f)
        std::printf("soak: %-12s %ld of %ld sessions as they must\n", faultName(Fault(f)), passed[size_t(f)],
                    runs[size_t(f)]);
}

// Runs `cycles` sessions, each with a fault drawn from `pick` and run by
// `cycle` (which gives what went wrong, empty when the session went as it
// must), says each failed one on stdout, hands every session to `after`,
// prints how each fault fared and gives the count of sessions that passed.
template <typename Cycle, typename After>
long runFaultCycles(long cycles, const std::vector<Fault>& pick, std::mt19937& rng, const char* kind, Cycle cycle,
                    After after)
{
    long ok = 0;
    FaultCounts runs {};
    FaultCounts passed {};
    for (long i = 0; i < cycles; ++i) {
        const Fault fault = pick[rng() % pick.size()];
        const std::string problem = cycle(fault);
        ++runs[size_t(fault)];
        if (problem.empty()) {
            ++ok;
            ++passed[size_t(fault)];
        } else {
            std::printf("soak: %s cycle %ld (%s): %s\n", kind, i + 1, faultName(fault), problem.c_str());
        }
        after(i + 1, fault);
        std::fflush(stdout);
    }
    printFaultCounts(passed, runs);
    return ok;
}

// The simulator as the dialling unit, its box's table kept in `image` from
// session to session, misbehaving as `fault` says; the byte count a fault
// picked goes to n.
inline QStringList unitArguments(const QString& state, const QString& image, Fault fault, std::mt19937& rng, int& n)
{
    QStringList arguments { QStringLiteral("--fast"), QStringLiteral("--unit"), QStringLiteral("--need-dial"),
                            QStringLiteral("--state"), state, QStringLiteral("--save"), image };
    if (QFile::exists(image))
        arguments << QStringLiteral("--image") << image;
    else
        arguments << QStringLiteral("--model") << QStringLiteral("22");
    n = 0;
    switch (fault) {
    case Fault::Silence:
        arguments << QStringLiteral("--fault") << QStringLiteral("silent");
        break;
    case Fault::Truncation:
        arguments << stopFault(rng, n);
        break;
    case Fault::StallWrite:
        n = int(rng() % (codec::ImageSize - 16));
        arguments << QStringLiteral("--fault") << QStringLiteral("stall-write:%1").arg(n);
        break;
    case Fault::ErrorReply:
        arguments << QStringLiteral("--reply-error");
        break;
    case Fault::HangUp:
        n = int(rng() % codec::ImageSize);
        arguments << QStringLiteral("--fault") << QStringLiteral("drop-call:%1").arg(n);
        break;
    case Fault::Garbage:
        arguments << garbageFault(rng, n);
        break;
    default:
        break;
    }
    return arguments;
}

// The customer's box behind the unit: its table lives on from session to
// session in an image file the simulator starts from and saves to.
class UnitBox
{
public:
    explicit UnitBox(const QTemporaryDir& folder)
        : image_(folder.filePath(QStringLiteral("box.img")))
        , state_(folder.filePath(QStringLiteral("box.state")))
    {
    }
    const QString& imagePath() const { return image_; }
    const QString& statePath() const { return state_; }

    // The table the box starts with, before anything was written to it.
    bool learnSample()
    {
        Sim reader;
        if (!reader.start({ QStringLiteral("--fast"), QStringLiteral("--model"), QStringLiteral("22") }))
            return false;
        sample_ = fetchImage(reader.path());
        return sample_.size() == codec::ImageSize;
    }
    // What the box holds now.
    QByteArray image() const
    {
        QFile file(image_);
        if (file.open(QIODevice::ReadOnly))
            return file.readAll();
        return sample_;
    }

private:
    QString image_;
    QString state_;
    QByteArray sample_;
};

// What the unit's state file says of the box after a session: never part of
// a table; its old one, unchanged (`expectNew` false), or a new one, whose
// content the caller compares.
inline std::string checkUnitBox(const QString& statePath, bool expectNew, const QByteArray& before,
                                const QByteArray& after)
{
    QFile file(statePath);
    const QByteArray state = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    if (state.startsWith("partial"))
        return "the box holds a partial table (" + state.toStdString() + ")";
    if (!expectNew && (state != "old" || after != before))
        return "the box did not keep its old table (" + state.toStdString() + ")";
    if (expectNew && state != "new")
        return "the box was not given the table written (" + state.toStdString() + ")";
    return std::string();
}

} // namespace soak

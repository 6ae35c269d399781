#include "sim/FrameReceiver.h"

#include "sim/Image.h"

namespace boxsim {
namespace {

constexpr std::uint8_t kStart = 0x02;
constexpr std::uint8_t kDialCode = 0x03;
// Long runs of noise are reported in pieces rather than kept whole.
constexpr std::size_t kMaxSkipped = 4096;

} // namespace

void FrameReceiver::feed(const std::uint8_t* data, std::size_t size, std::vector<Frame>& frames)
{
    partStart_ = table_.size();
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = data[i];
        switch (state_) {
        case State::Idle:
            if (b == kStart) {
                flushSkipped(frames);
                frame_.assign(1, b);
                state_ = State::Length;
            } else {
                skipped_.push_back(b);
                if (skipped_.size() >= kMaxSkipped)
                    flushSkipped(frames);
            }
            break;
        case State::Length:
            frame_.push_back(b);
            length_ = b;
            if (length_ == 0) {
                frames.push_back({FrameKind::Unknown, frame_});
                state_ = State::Idle;
            } else {
                state_ = State::Body;
            }
            break;
        case State::Body:
            frame_.push_back(b);
            if (frame_.size() == 2 + length_)
                finishFrame(frames);
            break;
        case State::Table:
            table_.push_back(b);
            if (table_.size() == kWrittenSize) {
                flushPart(frames);
                frames.push_back({FrameKind::Table, table_});
                table_.clear();
                state_ = State::Idle;
            }
            break;
        }
    }
    if (state_ == State::Table)
        flushPart(frames);
    flushSkipped(frames);
}

void FrameReceiver::flushPart(std::vector<Frame>& frames)
{
    if (table_.size() > partStart_) {
        const auto from = table_.begin() + static_cast<std::ptrdiff_t>(partStart_);
        frames.push_back({FrameKind::TablePart, std::vector<std::uint8_t>(from, table_.end()), partStart_});
    }
    partStart_ = table_.size();
}

void FrameReceiver::finishFrame(std::vector<Frame>& frames)
{
    state_ = State::Idle;
    const std::uint8_t code = frame_[2];
    FrameKind kind = FrameKind::Unknown;
    if (code == kDialCode) {
        const bool hangUp = frame_.size() == 5 && frame_[3] == 0x02 && frame_[4] == 0x02;
        kind = hangUp ? FrameKind::HangUp : FrameKind::Dial;
    } else if (length_ == 1) {
        switch (code) {
        case 0x01: kind = FrameKind::Read; break;
        case 0x02: kind = FrameKind::Write; break;
        case 0x05: kind = FrameKind::RemoteRead; break;
        case 0x06: kind = FrameKind::RemoteWrite; break;
        default: break;
        }
    }
    frames.push_back({kind, frame_});
    if (kind == FrameKind::Write) {
        table_.clear();
        table_.reserve(kWrittenSize);
        partStart_ = 0;
        state_ = State::Table;
    }
}

void FrameReceiver::flushSkipped(std::vector<Frame>& frames)
{
    if (skipped_.empty())
        return;
    frames.push_back({FrameKind::Skipped, skipped_});
    skipped_.clear();
}

FrameReceiver::Dropped FrameReceiver::reset()
{
    Dropped dropped;
    if (state_ == State::Table) {
        dropped.table = true;
        dropped.bytes = table_.size();
    } else if (state_ != State::Idle) {
        dropped.bytes = frame_.size();
    }
    state_ = State::Idle;
    frame_.clear();
    table_.clear();
    partStart_ = 0;
    skipped_.clear();
    return dropped;
}

} // namespace boxsim

#include "serialkit/ReceiveBuffer.h"

#include <algorithm>

namespace serialkit {

namespace {

// Handed-out bytes are dropped from the front once this many pile up.
constexpr std::size_t kCompactAt = 4096;

}  // namespace

void ReceiveBuffer::push(std::uint8_t byte, std::uint8_t flag) {
    bytes_.push_back(byte);
    flags_.push_back(flag);
}

void ReceiveBuffer::append(const std::uint8_t* raw, std::size_t count,
                           const std::function<std::uint8_t()>& lineErrorKind) {
    if (pos_ == bytes_.size()) {
        bytes_.clear();
        flags_.clear();
        pos_ = 0;
    } else if (pos_ >= kCompactAt) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(pos_));
        flags_.erase(flags_.begin(), flags_.begin() + static_cast<std::ptrdiff_t>(pos_));
        pos_ = 0;
    }
    const std::size_t first = bytes_.size();
    bool lineError = false;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t c = raw[i];
        switch (state_) {
            case State::DATA:
                if (c == 0377) {
                    state_ = State::AFTER_FF;
                } else {
                    push(c, 0);
                }
                break;
            case State::AFTER_FF:
                if (c == 0377) {
                    push(0377, 0);
                    state_ = State::DATA;
                } else if (c == 0) {
                    state_ = State::AFTER_FF_NUL;
                } else {
                    // Not a mark (the driver never sends this); keep both bytes as they came.
                    push(0377, 0);
                    push(c, 0);
                    state_ = State::DATA;
                }
                break;
            case State::AFTER_FF_NUL:
                if (c == 0) {
                    push(0, BREAK);
                } else {
                    push(c, LINE_ERROR);
                    lineError = true;
                }
                state_ = State::DATA;
                break;
        }
    }
    if (lineError) {
        std::uint8_t kind = lineErrorKind ? lineErrorKind() : PARITY;
        for (std::size_t i = first; i < flags_.size(); ++i) {
            if (flags_[i] == LINE_ERROR) {
                flags_[i] = kind;
            }
        }
    }
}

std::size_t ReceiveBuffer::take(std::uint8_t* out, std::size_t count) {
    std::size_t n = std::min(count, size());
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = bytes_[pos_ + i];
        seen_ |= flags_[pos_ + i];
    }
    pos_ += n;
    return n;
}

int ReceiveBuffer::takeSeen(std::uint8_t kind) {
    int r = (seen_ & kind) ? 1 : 0;
    seen_ &= static_cast<std::uint8_t>(~kind);
    return r;
}

void ReceiveBuffer::clear() {
    bytes_.clear();
    flags_.clear();
    pos_ = 0;
    state_ = State::DATA;
}

}  // namespace serialkit

#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace serialkit {

// Received bytes waiting to be handed out, decoded from input the terminal driver marks
// with PARMRK: a byte that arrived with a parity or framing error comes as 0377 0 byte, a
// break as 0377 0 0, and a genuine 0377 as 0377 0377. The decoding state carries over
// between appends, so a mark split across two reads decodes like an unsplit one. Each byte
// remembers the error it carried; the error counts as seen once the byte is handed out.
// Not thread-safe; the owner locks.
class ReceiveBuffer {
  public:
    static constexpr std::uint8_t PARITY = 1;
    static constexpr std::uint8_t FRAME = 2;
    static constexpr std::uint8_t BREAK = 4;

    // The driver's mark does not say parity or framing; `lineErrorKind` answers PARITY or
    // FRAME and is asked at most once per append, only when a marked byte came.
    void append(const std::uint8_t* raw, std::size_t count,
                const std::function<std::uint8_t()>& lineErrorKind);
    // Decoded bytes not yet handed out.
    std::size_t size() const { return bytes_.size() - pos_; }
    bool empty() const { return size() == 0; }
    // Copies up to count bytes out, noting the errors they carried.
    std::size_t take(std::uint8_t* out, std::size_t count);
    // 1 when a byte handed out since the previous query of this kind carried it, else 0.
    int takeSeen(std::uint8_t kind);
    // Drops the waiting bytes and a partial mark (after the input was flushed); errors
    // already seen stay until queried.
    void clear();
    // True while the input so far ends inside a mark.
    bool partialMark() const { return state_ != State::DATA; }

  private:
    enum class State { DATA, AFTER_FF, AFTER_FF_NUL };
    static constexpr std::uint8_t LINE_ERROR = 0x80;  // kind decided at the end of append

    void push(std::uint8_t byte, std::uint8_t flag);

    State state_ = State::DATA;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::uint8_t> flags_;
    std::size_t pos_ = 0;
    std::uint8_t seen_ = 0;
};

}  // namespace serialkit

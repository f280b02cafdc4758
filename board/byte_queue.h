// A fixed-size byte ring: the transmit queue of a port.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vyn::board {

template <std::size_t Capacity>
class ByteQueue {
  public:
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t room() const { return Capacity - size_; }

    // The contiguous free space behind the last byte; fill it, then Commit what was written.
    std::span<std::uint8_t> FreeSpace() {
        std::size_t tail = (head_ + size_) % Capacity;
        std::size_t length = tail >= head_ && size_ != Capacity ? Capacity - tail : room();
        return {bytes_.data() + tail, length};
    }
    void Commit(std::size_t count) { size_ += count; }

    // Moves up to `count` bytes from the front to the end of `out`.
    std::size_t Take(std::size_t count, std::vector<std::uint8_t> &out) {
        count = count < size_ ? count : size_;
        for (std::size_t moved = 0; moved < count;) {
            std::size_t run = Capacity - head_;
            run = run < count - moved ? run : count - moved;
            out.insert(out.end(), bytes_.data() + head_, bytes_.data() + head_ + run);
            head_ = (head_ + run) % Capacity;
            size_ -= run;
            moved += run;
        }
        return count;
    }

    void Clear() {
        head_ = 0;
        size_ = 0;
    }

  private:
    std::array<std::uint8_t, Capacity> bytes_{};
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

}  // namespace vyn::board

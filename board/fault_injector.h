// Deterministic receive faults of one port, so that tests can assert exact counts.
//
// Framing counts every character that reaches the receiver and drops every Nth one as a framing
// error. Dropping counts the characters that survive framing and loses every Nth one without any
// error, as a receiver that missed an interrupt would. Corruption counts the characters that
// survive both and flips the low bit of every Nth one.
// Stray bytes are handed to the reader once, just before the next character that arrives.
// Setting a fault restarts its count; 0 turns it off.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vyn::board {

struct FaultOutcome {
    std::uint64_t corrupted = 0;
    std::uint64_t framingErrors = 0;
    std::uint64_t dropped = 0;
};

class FaultInjector {
  public:
    static constexpr std::size_t kMaxStrayBytes = 64;

    void SetCorruptEvery(std::uint32_t every) {
        corruptEvery_ = every;
        corruptCount_ = 0;
    }
    void SetFramingEvery(std::uint32_t every) {
        framingEvery_ = every;
        framingCount_ = 0;
    }
    void SetDropEvery(std::uint32_t every) {
        dropEvery_ = every;
        dropCount_ = 0;
    }
    void SetStray(std::vector<std::uint8_t> bytes) { stray_ = std::move(bytes); }

    std::uint32_t corruptEvery() const { return corruptEvery_; }
    std::uint32_t framingEvery() const { return framingEvery_; }
    std::uint32_t dropEvery() const { return dropEvery_; }
    const std::vector<std::uint8_t> &stray() const { return stray_; }

    // Appends to `out` what the reader gets for the arriving characters.
    FaultOutcome Apply(std::span<const std::uint8_t> arriving, std::vector<std::uint8_t> &out);

  private:
    std::uint32_t corruptEvery_ = 0;
    std::uint32_t corruptCount_ = 0;
    std::uint32_t framingEvery_ = 0;
    std::uint32_t framingCount_ = 0;
    std::uint32_t dropEvery_ = 0;
    std::uint32_t dropCount_ = 0;
    std::vector<std::uint8_t> stray_;
};

// Parses stray bytes given as hex digits ("0d0A"); "0" and "none" mean no stray bytes.
bool ParseStrayBytes(std::string_view text, std::vector<std::uint8_t> &bytes);
std::string FormatStrayBytes(const std::vector<std::uint8_t> &bytes);

}  // namespace vyn::board

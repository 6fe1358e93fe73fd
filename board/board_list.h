#pragma once
// The board's portable rules: the "MainBoard" list of WGB.ini and its match
// against the product text, and when the WMI query is tried again. Free of
// <windows.h>, so that they are tested natively: the INI file is reached
// through a key reader the caller supplies.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// --- board list ---

// Keys run from 1 up to and including this number.
constexpr int kBoardListMaxKey = 4096;
// Values are read into a 256-byte buffer: at most this many characters count.
constexpr std::size_t kBoardListValueMax = 255;

// Returns the value of the given decimal key ("1", "2", ...), empty when the
// key is missing.
using BoardKeyReader = std::function<std::string(const std::string &key)>;

// The product fragment of a list value: its text before the first ';', or
// the whole value. Nothing is trimmed and case is kept.
std::string BoardToken(const std::string &value);

// The list: the values of the run of non-empty keys from 1 upward, each cut
// to kBoardListValueMax characters. The first missing or empty key ends it,
// and no key above kBoardListMaxKey is read.
std::vector<std::string> ReadBoardList(const BoardKeyReader &readKey);
// The key (1, 2, ...) of the first listed value whose token occurs in the
// product text; 0 when none does.
int FindBoardListKey(const std::string &product, const std::vector<std::string> &list);
// 1 when the token of a listed value occurs in the product text, 0 otherwise.
int MatchBoardList(const std::string &product, const BoardKeyReader &readKey);

// --- WMI retry schedule ---
// At boot WMI may still be starting, and on the first boot of an imaged
// machine it may rebuild its repository for many minutes: the query is tried
// until it answers, often at first, then less often.

inline constexpr unsigned long kWmiEarlyPauseMs = 10000;
inline constexpr unsigned long kWmiLatePauseMs = 60000;
inline constexpr std::uint64_t kWmiEarlyPhaseMs = 120000;

// The pause before the next try, from the time since the first try began:
// 10 s during the first 2 minutes, 60 s afterwards.
inline unsigned long WmiRetryPauseMs(std::uint64_t elapsedMs) {
    return elapsedMs < kWmiEarlyPhaseMs ? kWmiEarlyPauseMs : kWmiLatePauseMs;
}

#pragma once
// The "MainBoard" list of WGB.ini and its match against the product text.
// Portable: the INI file is reached through a key reader the caller supplies.

#include <cstddef>
#include <functional>
#include <string>

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

// 1 when the token of a listed value occurs in the product text, 0 otherwise.
// The list is the run of non-empty keys from 1 upward; the first missing or
// empty key ends it, and no key above kBoardListMaxKey is read.
int MatchBoardList(const std::string &product, const BoardKeyReader &readKey);

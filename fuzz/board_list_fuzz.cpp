// The INI token rule and the board list match over arbitrary list values and
// product texts.
//
// Input: the product text, then one list value per line ('\n'). An input that
// begins with "*\n" makes the list repeat: keys behind its end read it again
// from its start, so that the search runs into its last key.
//
// Properties: a token is the value's text before its first ';' (all of it
// without one); keys are read as 1, 2, 3, ... in order and never above the
// last key; the search stops at the first empty value or the first token
// that occurs in the product text, and its result says which; only the first
// 255 characters of a value count.

#include "board/board_list.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <string>

namespace {

constexpr char kRepeatMarker[] = "*\n";

struct BoardListInput {
    std::string product;
    std::vector<std::string> values;
    bool repeat = false;
};

BoardListInput Parse(const std::uint8_t *data, std::size_t size) {
    BoardListInput input;
    std::string text =
        size == 0 ? std::string() : std::string(reinterpret_cast<const char *>(data), size);
    if (text.compare(0, sizeof kRepeatMarker - 1, kRepeatMarker) == 0) {
        input.repeat = true;
        text.erase(0, sizeof kRepeatMarker - 1);
    }
    std::size_t lineEnd = text.find('\n');
    input.product = text.substr(0, lineEnd);
    while (lineEnd != std::string::npos) {
        const std::size_t begin = lineEnd + 1;
        lineEnd = text.find('\n', begin);
        input.values.push_back(text.substr(begin, lineEnd - begin));
    }
    return input;
}

void CheckToken(const std::string &value) {
    const std::string token = BoardToken(value);
    FUZZ_CHECK(value.compare(0, token.size(), token) == 0);
    FUZZ_CHECK(token.find(';') == std::string::npos);
    FUZZ_CHECK(token.size() == value.size() || value[token.size()] == ';');
}

// The section as the INI reader would give it, checking the keys asked for.
struct Section {
    const std::vector<std::string> &values;
    bool repeat;
    std::size_t keysRead = 0;
    bool keysInOrder = true;

    std::string Read(const std::string &key) {
        keysInOrder = keysInOrder && key == std::to_string(keysRead + 1);
        const std::size_t index = keysRead++;
        if (values.empty() || (!repeat && index >= values.size()))
            return std::string();
        return values[index % values.size()];
    }
};

struct SearchOutcome {
    int result;
    std::size_t keysRead;
    bool keysInOrder;
};

SearchOutcome Search(const std::string &product, const std::vector<std::string> &values,
                     bool repeat) {
    Section section{values, repeat};
    const int result =
        MatchBoardList(product, [&section](const std::string &key) { return section.Read(key); });
    return {result, section.keysRead, section.keysInOrder};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const BoardListInput input = Parse(data, size);
    for (const std::string &value : input.values)
        CheckToken(value);

    const SearchOutcome outcome = Search(input.product, input.values, input.repeat);
    FUZZ_CHECK(outcome.result == 0 || outcome.result == 1);
    const std::size_t keysRead = outcome.keysRead;
    FUZZ_CHECK(keysRead >= 1 && keysRead <= static_cast<std::size_t>(kBoardListMaxKey));
    FUZZ_CHECK(outcome.keysInOrder);

    // What each key read held, as far as the search counts it.
    auto counted = [&](std::size_t index) {
        if (input.values.empty() || (!input.repeat && index >= input.values.size()))
            return std::string();
        return input.values[index % input.values.size()].substr(0, kBoardListValueMax);
    };
    auto matches = [&](const std::string &value) {
        return !value.empty() && input.product.find(BoardToken(value)) != std::string::npos;
    };
    // Keys of a repeating list hold the values of the first keys again.
    const std::size_t distinctBeforeLast =
        input.repeat ? std::min(keysRead - 1, input.values.size()) : keysRead - 1;
    for (std::size_t i = 0; i < distinctBeforeLast; ++i) {
        FUZZ_CHECK(!counted(i).empty());
        FUZZ_CHECK(!matches(counted(i)));
    }
    const std::string last = counted(keysRead - 1);
    if (outcome.result == 1) {
        FUZZ_CHECK(matches(last));
    } else {
        FUZZ_CHECK(!matches(last));
        FUZZ_CHECK(last.empty() || keysRead == static_cast<std::size_t>(kBoardListMaxKey));
    }

    // Characters behind the first 255 of a value play no part.
    std::vector<std::string> cut = input.values;
    for (std::string &value : cut)
        value.resize(std::min(value.size(), kBoardListValueMax));
    const SearchOutcome cutOutcome = Search(input.product, cut, input.repeat);
    FUZZ_CHECK(cutOutcome.result == outcome.result);
    FUZZ_CHECK(cutOutcome.keysRead == keysRead);
    return 0;
}

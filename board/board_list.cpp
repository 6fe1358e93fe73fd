#include "board/board_list.h"

std::string BoardToken(const std::string &value) {
    return value.substr(0, value.find(';'));
}

int MatchBoardList(const std::string &product, const BoardKeyReader &readKey) {
    for (int key = 1; key <= kBoardListMaxKey; ++key) {
        const std::string value = readKey(std::to_string(key)).substr(0, kBoardListValueMax);
        if (value.empty())
            return 0;
        // The empty token (a value starting with ';') occurs in every text.
        if (product.find(BoardToken(value)) != std::string::npos)
            return 1;
    }
    return 0;
}

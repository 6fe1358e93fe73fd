#include "board/board_list.h"

std::string BoardToken(const std::string &value) {
    return value.substr(0, value.find(';'));
}

std::vector<std::string> ReadBoardList(const BoardKeyReader &readKey) {
    std::vector<std::string> list;
    for (int key = 1; key <= kBoardListMaxKey; ++key) {
        std::string value = readKey(std::to_string(key)).substr(0, kBoardListValueMax);
        if (value.empty())
            break;
        list.push_back(std::move(value));
    }
    return list;
}

int FindBoardListKey(const std::string &product, const std::vector<std::string> &list) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        // The empty token (a value starting with ';') occurs in every text.
        if (product.find(BoardToken(list[i])) != std::string::npos)
            return static_cast<int>(i) + 1;
    }
    return 0;
}

int MatchBoardList(const std::string &product, const BoardKeyReader &readKey) {
    return FindBoardListKey(product, ReadBoardList(readKey)) != 0 ? 1 : 0;
}

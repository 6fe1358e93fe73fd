#include "button/worker_texts.h"

namespace {
constexpr std::size_t kQuotesAndSwitchLength = sizeof("\"\" /S") - 1;
}

std::size_t IniPathLength(std::size_t directoryLength) {
    return directoryLength + sizeof(kIniFileName) - 1;
}

std::size_t CommandLineLength(std::size_t directoryLength) {
    return directoryLength + sizeof(kCompanionExeName) - 1 + kQuotesAndSwitchLength;
}

bool DirectoryFitsTexts(std::size_t directoryLength) {
    return IniPathLength(directoryLength) < kTextBufferSize &&
           CommandLineLength(directoryLength) < kTextBufferSize;
}

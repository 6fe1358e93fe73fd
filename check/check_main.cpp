#include "common/system_library.h"

#include <windows.h>

#include <cstdio>

int main() {
    RestrictDllSearchToSystemFolder();
    std::puts("{\"result\": \"OK\"}");
    return 0;
}

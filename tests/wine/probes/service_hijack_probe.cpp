// Planted where an unquoted service image path with blanks would be cut short
// (C:\Program.exe and the like). When started it leaves a record beside itself,
// "<its own path>.ran", holding the command line it was given, and ends.

#include <windows.h>

#include <fstream>
#include <string>

int main() {
    char ownPath[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, ownPath, MAX_PATH);
    std::ofstream record(std::string(ownPath) + ".ran", std::ios::binary | std::ios::app);
    record << GetCommandLineA() << "\r\n";
    return 0;
}

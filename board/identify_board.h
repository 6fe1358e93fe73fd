#pragma once
// Board identification: the baseboard's product text from WMI, matched
// against the "MainBoard" list of WGB.ini.

#include <string>

// The baseboard's WMI "Product" text; empty until IdentifyBoard has read it.
extern std::string g_strBoard;

// What asking WMI for the baseboard's product gave.
enum class WmiAnswer {
    Product,       // the product text
    NoProductText, // a baseboard without one: asking again cannot change that
    NoBaseboard,   // the enumeration completed empty: no baseboard record
    Failed,        // no answer: WMI may still be starting
};

// The clock the WMI retries run on: Windows' own in the service, a faster
// one in tests. The count may wrap.
struct WmiClock {
    unsigned long (*nowMs)();
    void (*sleepMs)(unsigned long ms);
};
extern const WmiClock kWindowsClock;

// One try of the query for the baseboard's WMI "Product" text in the ANSI
// code page, set up as IdentifyBoard sets it up: initialises COM on the
// calling thread and uninitialises it again, and sets the process's COM
// security, which Windows allows once per process.
WmiAnswer ReadBaseboardProduct(std::string &productText);

// The value of a key of section "MainBoard" in g_szIniPath; empty when there
// is none.
std::string ReadBoardListKey(const std::string &key);
// The same in the WGB.ini at iniPath.
std::string ReadBoardListKeyIn(const std::string &iniPath, const std::string &key);

// Reads the product text into g_strBoard and returns 1 when a product
// fragment listed in section "MainBoard" of g_szIniPath occurs in it, 0
// otherwise. The query is tried until WMI answers, pausing as
// WmiRetryPauseMs says, for as long as the run flag stays up. Returns 0 with
// g_strBoard left empty when WMI yields no product text or no baseboard
// record, or when the run flag fell first.
int IdentifyBoard(const WmiClock &clock = kWindowsClock);

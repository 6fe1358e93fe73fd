#pragma once
// Board identification: the baseboard's product text from WMI, matched
// against the "MainBoard" list of WGB.ini.

#include <string>

// The baseboard's WMI "Product" text; empty until IdentifyBoard has read it.
extern std::string g_strBoard;

// How often the WMI query is tried before the board counts as unknown: at
// boot WMI may still be starting, or rebuilding its repository.
struct WmiRetry {
    int tries;
    unsigned long pauseMs; // between tries; the run flag is looked at meanwhile
};
inline constexpr WmiRetry kWmiRetryAtBoot{13, 10000}; // about 2 minutes

// What asking WMI for the baseboard's product gave.
enum class WmiAnswer {
    Product,       // the product text
    NoProductText, // a baseboard without one: asking again cannot change that
    Failed,        // no answer: WMI may still be starting
};

// The baseboard's WMI "Product" text in the ANSI code page. Initialises COM
// on the calling thread and uninitialises it again. Failed tries are
// repeated; a product that cannot become text is not. Failed also when the
// run flag fell between tries.
WmiAnswer ReadBaseboardProduct(std::string &productText, const WmiRetry &retry = kWmiRetryAtBoot);

// The value of a key of section "MainBoard" in g_szIniPath; empty when there
// is none.
std::string ReadBoardListKey(const std::string &key);

// Reads the product text into g_strBoard and returns 1 when a product
// fragment listed in section "MainBoard" of g_szIniPath occurs in it, 0
// otherwise. Returns 0 with g_strBoard left empty when WMI yields no product
// text.
int IdentifyBoard(const WmiRetry &retry = kWmiRetryAtBoot);

#pragma once
// Board identification: the baseboard's product text from WMI, matched
// against the "MainBoard" list of WGB.ini.

#include <string>

// The baseboard's WMI "Product" text; empty until IdentifyBoard has read it.
extern std::string g_strBoard;

// Reads the product text into g_strBoard and returns 1 when a product
// fragment listed in section "MainBoard" of g_szIniPath occurs in it, 0
// otherwise. Returns 0 with g_strBoard left empty when WMI yields no product
// text. Initialises COM on the calling thread and uninitialises it again.
int IdentifyBoard();

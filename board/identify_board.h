#pragma once
// Board identification: the baseboard's product text from WMI, matched
// against the "MainBoard" list of WGB.ini.

#include <string>

// The baseboard's WMI "Product" text; empty until IdentifyBoard has read it.
extern std::string g_strBoard;

// 1 when a listed product fragment occurs in the product text, 0 otherwise.
int IdentifyBoard();

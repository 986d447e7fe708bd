// Texts every user message of the launcher shares.
#pragma once

#include <string>

extern const char kErrorCaption[];  // caption of error boxes

// "http://www.<product domain>", the address most messages send the user to.
std::string ProductWebAddress();

// Texts every user message of the launcher shares.
#pragma once

#include <string>

extern const char kErrorCaption[];            // caption of error boxes
extern const char kStartProgramFailedText[];  // a program (ours, or its relaunch) could not start

// "http://www.<product domain>", the address most messages send the user to.
std::string ProductWebAddress();

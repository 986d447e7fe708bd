// Texts every user message of the launcher shares.
#pragma once

#include <string>

#include "base/ProductDomain.h"

extern const char kErrorCaption[];            // caption of error boxes
extern const char kStartProgramFailedText[];  // a program (ours, or its relaunch) could not start

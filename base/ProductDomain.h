// The product domain of this build in the texts that carry it, composed in one place.
#pragma once

#include <string>

// `format` with the product domain in its one "%s".
std::string WithProductDomain(const char* format);
// "http://www.<product domain>": the address messages send the user to, and the name of the
// window class and of the single-instance mutex.
std::string ProductWebAddress();

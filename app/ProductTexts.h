// Texts every user message of the launcher shares, each written once.
#pragma once

#include <string>

#include "base/ProductDomain.h"

extern const char kErrorCaption[];            // caption of error boxes
extern const char kStartProgramFailedText[];  // a program (ours, or its relaunch) could not start
extern const char kReachSiteText[];           // "make sure the network reaches the product's site", CRLF

// The tail of a failure message that sends the user to the site's service, with its address:
// "\r\n请登录沐岚星官方网站：<address>\r\n联系官方客服处理！".
std::string LogInToSiteText();
// "如有疑问，请联系官方网站客服处理！\r\n官方网站：<address>\r\n".
std::string ContactSiteText();

#include "app/ProductTexts.h"

#include "BuildConfig.h"
#include "base/TextFormat.h"

const char kErrorCaption[] = "错误";
const char kStartProgramFailedText[] = "启动程序失败！";

std::string ProductWebAddress() {
  std::string address;
  FormatString(address, "http://www.%s", BuildConfig::kProductDomain);
  return address;
}

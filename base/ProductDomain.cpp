#include "base/ProductDomain.h"

#include "BuildConfig.h"
#include "base/TextFormat.h"

std::string WithProductDomain(const char* format) {
  std::string text;
  FormatString(text, format, BuildConfig::kProductDomain);
  return text;
}

std::string ProductWebAddress() { return WithProductDomain("http://www.%s"); }

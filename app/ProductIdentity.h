// What the setup actions know of the product and of this start: the names and the version from
// the executable's version resource, and the command line's switches.
#pragma once

#include <string>

#include "base/CommandLine.h"

struct ProductIdentity {
  std::string productName;
  std::string internalName;  // names the uninstall key
  std::string companyName;
  std::string version;  // "major.minor.build"
  const CCommandLine* commandLine = nullptr;

  bool HasSwitch(const char* text) const { return commandLine && commandLine->Has(text); }
};

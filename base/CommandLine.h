// The process's arguments in the ANSI code page, program path first, compared as whole words.
#pragma once

#include <string>
#include <vector>

class CCommandLine {
public:
  CCommandLine();                                     // this process's command line
  explicit CCommandLine(const wchar_t* commandLine);  // split like a process command line

  int Count() const { return static_cast<int>(m_arguments.size()); }
  const char* At(int index) const;  // empty text when out of range
  bool Has(const char* text) const { return IndexOf(text) >= 0; }
  int IndexOf(const char* text) const;  // first argument equal to text ignoring case, or -1

private:
  void Split(const wchar_t* commandLine);

  std::vector<std::string> m_arguments;
};

#include "base/CommandLine.h"

#include <windows.h>
#include <shellapi.h>

#include "base/TextConverter.h"

CCommandLine::CCommandLine() { Split(GetCommandLineW()); }

CCommandLine::CCommandLine(const wchar_t* commandLine) { Split(commandLine); }

void CCommandLine::Split(const wchar_t* commandLine) {
  if (!commandLine) return;
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(commandLine, &count);
  if (!arguments) return;
  CTextConverter converter;
  for (int i = 0; i < count; ++i) {
    const char* ansi = converter.WideToAnsi(arguments[i]);
    m_arguments.emplace_back(ansi ? ansi : "");
  }
  LocalFree(arguments);
}

const char* CCommandLine::At(int index) const {
  if (index < 0 || index >= Count()) return "";
  return m_arguments[index].c_str();
}

int CCommandLine::IndexOf(const char* text) const {
  if (!text) return -1;
  for (int i = 0; i < Count(); ++i) {
    if (lstrcmpiA(m_arguments[i].c_str(), text) == 0) return i;
  }
  return -1;
}

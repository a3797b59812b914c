#include "engine/foundation/commandline.h"

#include <string>

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

void SplitCommandLine(const char* commandLine, CStringA& program, CStringA& arguments) {
  program.Empty();
  arguments.Empty();
  if (!commandLine) return;
  const char* p = commandLine;
  while (IsBlank(*p)) ++p;
  const char* begin = p;
  const char* end;
  if (*p == '"') {
    begin = ++p;
    while (*p && *p != '"') ++p;
    end = p;
    if (*p == '"') ++p;
  } else {
    while (*p && !IsBlank(*p)) ++p;
    end = p;
  }
  if (end > begin) {
    std::string s(begin, end);
    program = s.c_str();
  }
  while (IsBlank(*p)) ++p;
  if (*p) arguments = p;
}

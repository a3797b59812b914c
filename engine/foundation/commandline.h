// A configured command line (custom action, client validation) as program and arguments.
#pragma once
#include "engine/foundation/cstring.h"

// The program (in double quotes, or up to the first blank) and the arguments after the blanks that
// follow it; both empty for a null or blank text.
void SplitCommandLine(const char* commandLine, CStringA& program, CStringA& arguments);

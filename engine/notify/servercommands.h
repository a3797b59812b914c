// The names and codes shared with vtxserver are the foundation's; this name stays for the web
// service's sources.
#pragma once
#include "engine/foundation/servercommands.h"

#pragma once

// The code-page conversion lives in protocol/, which the service shares; this name stays for the
// client code that still includes it from here.
#include "protocol/Cp1252.h"

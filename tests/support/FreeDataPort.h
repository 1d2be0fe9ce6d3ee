#pragma once

#include <QString>

// A UDP port on 127.0.0.1 that is free now, in the range peers can name (1 to 32767; the
// system's own choice of a free port lies above it). "0" when none was found.
QString freeDataPort();

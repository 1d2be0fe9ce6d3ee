#pragma once

#include <QByteArray>
#include <QSize>

// A JPEG of exactly `size` bytes: a noisy picture of the given dimensions, padded after its end
// marker. Empty when even the lowest quality does not fit.
QByteArray jpegOfSize(int size, QSize dimensions);

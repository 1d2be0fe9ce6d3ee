#pragma once

#include <QJsonObject>

// One JSON object a line on standard output, flushed at once so a reading process sees it.
void writeJsonLine(const QJsonObject& object);

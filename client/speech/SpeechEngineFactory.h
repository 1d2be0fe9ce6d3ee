#pragma once

#include "speech/SpeechEngine.h"

#include <memory>

namespace cfb::client {

// The program's speech engine: espeak-ng on the default audio output. Never null; without an
// audio device or voice data it says so once in the event log and only moves the mouth.
std::unique_ptr<SpeechEngine> createSpeechEngine(QObject* parent = nullptr);

} // namespace cfb::client

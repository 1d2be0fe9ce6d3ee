#include "speech/SpeechEngineFactory.h"

#include "speech/EspeakSpeechEngine.h"

namespace cfb::client {

std::unique_ptr<SpeechEngine> createSpeechEngine(QObject* parent)
{
    return std::make_unique<EspeakSpeechEngine>(parent);
}

} // namespace cfb::client

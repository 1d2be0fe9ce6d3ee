#include "SpeechEngineFactory.h"

#include "EspeakSpeechEngine.h"

namespace cfb::client {

std::unique_ptr<SpeechEngine> createSpeechEngine(QObject* parent)
{
    return std::make_unique<EspeakSpeechEngine>(parent);
}

} // namespace cfb::client

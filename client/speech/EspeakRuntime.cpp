#include "speech/EspeakRuntime.h"

#include <espeak-ng/speak_lib.h>

#include <QRegularExpression>

#include <algorithm>

namespace cfb::client {

namespace {

// Audio comes back from espeak-ng in pieces of this length, so playback can start on the first.
constexpr int ChunkMs = 20;

bool isEnglish(const espeak_VOICE* v)
{
    // languages: a priority byte, then the language name.
    return v->languages && v->languages[0] && QByteArray(v->languages + 1).startsWith("en");
}

} // namespace

EspeakRuntime& EspeakRuntime::instance(const QString& dataPath)
{
    static EspeakRuntime runtime(dataPath);
    return runtime;
}

EspeakRuntime::EspeakRuntime(const QString& dataPath)
{
    const QByteArray path = dataPath.toLocal8Bit();
    const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, ChunkMs, path.isEmpty() ? nullptr : path.constData(),
        espeakINITIALIZE_PHONEME_EVENTS | espeakINITIALIZE_DONT_EXIT);
    sampleRate_ = rate > 0 ? rate : 0;
    if (sampleRate_ > 0)
        listVoices();
    if (!ready())
        problem_ = QStringLiteral("no espeak-ng voice data found");
}

void EspeakRuntime::selectVoice(const QByteArray& selector)
{
    if (selector == selected_)
        return;
    selected_ = espeak_SetVoiceByName(selector.constData()) == EE_OK ? selector : QByteArray();
}

void EspeakRuntime::listVoices()
{
    QVector<Voice> english, others;
    const espeak_VOICE** all = espeak_ListVoices(nullptr);
    for (int i = 0; all && all[i]; ++i) {
        const espeak_VOICE* v = all[i];
        if (!v->name || !v->languages || !v->languages[0])
            continue;
        Voice voice{QString::fromUtf8(v->name).trimmed(), QByteArray(v->languages + 1)};
        if (voice.selector == "en-us")
            english.prepend(voice);
        else if (isEnglish(v))
            english.append(voice);
        else
            others.append(voice);
    }
    voices_ = english;
    if (!english.isEmpty() && english.first().selector == "en-us") {
        // The plain numbered variants give buddies distinct voices in the first thirty.
        static const QRegularExpression plain(QStringLiteral("^!v/[fm][0-9]$"));
        espeak_VOICE wanted{};
        wanted.languages = "variant";
        const espeak_VOICE** variants = espeak_ListVoices(&wanted);
        QVector<Voice> numbered;
        for (int i = 0; variants && variants[i]; ++i) {
            const QString id = QString::fromUtf8(variants[i]->identifier ? variants[i]->identifier : "");
            if (!plain.match(id).hasMatch())
                continue;
            numbered.append(Voice{english.first().name + QStringLiteral(", ") + QString::fromUtf8(variants[i]->name),
                "en-us+" + id.mid(3).toUtf8()});
        }
        // female1..5, then male1..8, whatever order the data folder lists them in.
        std::sort(numbered.begin(), numbered.end(), [](const Voice& a, const Voice& b) { return a.name < b.name; });
        voices_ += numbered;
    }
    voices_ += others;
}

} // namespace cfb::client

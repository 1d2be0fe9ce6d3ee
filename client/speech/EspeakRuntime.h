#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <mutex>

namespace cfb::client {

// espeak-ng for the whole process. The library keeps global state, cannot be started twice and
// hangs when it is stopped and started again, so it is initialised once, on first use, and every
// call into it holds lock().
class EspeakRuntime {
public:
    struct Voice {
        QString name; // shown to the user
        QByteArray selector; // what espeak_SetVoiceByName takes: "en-us", "en-us+f3"
    };

    // Initialises espeak-ng on the first call, from dataPath (the espeak-ng-data folder) when it
    // is not empty, else from where the library looks by default. Later calls return the same
    // object whatever path they name.
    static EspeakRuntime& instance(const QString& dataPath = {});

    // False when the voice data could not be read: nothing can be synthesised.
    bool ready() const { return sampleRate_ > 0 && !voices_.isEmpty(); }
    int sampleRate() const { return sampleRate_; }
    // English voices first (American English leading), then American English with the plain
    // male and female variants, then every other language.
    const QVector<Voice>& voices() const { return voices_; }
    QString problem() const { return problem_; }

    std::mutex& lock() { return mutex_; }
    // Makes the voice current unless it already is (loading one reads its files). Hold lock().
    void selectVoice(const QByteArray& selector);

private:
    explicit EspeakRuntime(const QString& dataPath);
    void listVoices();

    int sampleRate_ = 0;
    QVector<Voice> voices_;
    QString problem_;
    std::mutex mutex_;
    QByteArray selected_;
};

} // namespace cfb::client

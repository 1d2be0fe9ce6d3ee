#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

namespace cfb::client {

// The mouth drawings. Rest is the slightly parted mouth of most consonants.
enum class MouthShape { Closed, Rest, Open, Wide, Round, TeethOnLip, Tongue };

// One phoneme as the synthesiser reports it: its name and where it starts in the text's audio.
struct PhonemeMark {
    int ms = 0;
    QByteArray phoneme;
};

// The mouth shapes of one spoken text against time from the start of its audio: closed before
// the first phoneme and from the end of the audio on, each phoneme's shape until the next one.
class MouthTimeline {
public:
    struct Key {
        int ms;
        MouthShape shape;
        QByteArray phoneme; // empty where the shape was not read from a phoneme
    };

    // The shape for an eSpeak phoneme name ("p", "aI", "T", "_:"); pauses close the mouth.
    static MouthShape shapeFor(const QByteArray& phoneme);
    // A timeline read from the letters alone, for when there is no synthesiser to say where the
    // phonemes fall: one letter every msPerLetter, a pause at spaces and punctuation.
    static MouthTimeline fromText(const QString& text, int msPerLetter = 70);

    void add(const PhonemeMark& mark) { add(mark.ms, shapeFor(mark.phoneme), mark.phoneme); }
    void add(int ms, MouthShape shape, const QByteArray& phoneme = {});
    // The audio ends at endMs; the mouth is closed from there on.
    void finish(int endMs);

    MouthShape shapeAt(int ms) const;
    // The first time after ms where the shape may change; -1 when none is known yet.
    int nextChangeAfter(int ms) const;
    bool finished() const { return endMs_ >= 0; }
    int endMs() const { return endMs_; }
    const QVector<Key>& keys() const { return keys_; }

private:
    QVector<Key> keys_;
    int endMs_ = -1;
};

} // namespace cfb::client

#include "call/CallAudio.h"

#include "audio/VoiceFormat.h"
#include "platform/Settings.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>
#include <memory>
#include <vector>

namespace cfb::client {
namespace {

// A quarter of a second either way at most: what a late reader finds beyond it is dropped.
constexpr int RingSamples = VoiceFormat::SampleRate / 4;

QAudioFormat callFormat()
{
    QAudioFormat format;
    format.setSampleRate(VoiceFormat::SampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    return format;
}

QAudioDevice chosen(const QList<QAudioDevice>& devices, const QAudioDevice& fallback, const QString& id)
{
    if (!id.isEmpty())
        for (const QAudioDevice& device : devices)
            if (QString::fromUtf8(device.id()) == id)
                return device;
    return fallback;
}

// What the loudspeaker pulls: the ring's samples, silence when the call has sent none yet, so
// the device keeps running at an even pace.
class RingReader : public QIODevice {
public:
    explicit RingReader(AudioRing& ring)
        : ring_(ring)
    {
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const int samples = int(std::min<qint64>(maxSize / 2, VoiceFormat::FrameSamples));
        ring_.read(reinterpret_cast<int16_t*>(data), samples);
        return qint64(samples) * 2;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    AudioRing& ring_;
};

} // namespace

// The devices, made, run and ended on the audio thread.
class CallAudio::Devices : public QObject {
public:
    Devices(AudioRing& microphone, AudioRing& loudspeaker)
        : microphone_(microphone)
        , loudspeaker_(loudspeaker)
    {
    }

    void open(const QAudioDevice& input, const QAudioDevice& output)
    {
        const QAudioFormat format = callFormat();
        if (!input.isNull() && input.isFormatSupported(format)) {
            source_ = std::make_unique<QAudioSource>(input, format);
            source_->setBufferSize(format.bytesForDuration(40000));
            inputIo_ = source_->start();
            if (inputIo_)
                connect(inputIo_, &QIODevice::readyRead, this, &Devices::takeMicrophone);
        }
        if (!output.isNull() && output.isFormatSupported(format)) {
            sink_ = std::make_unique<QAudioSink>(output, format);
            sink_->setBufferSize(format.bytesForDuration(60000));
            reader_ = std::make_unique<RingReader>(loudspeaker_);
            reader_->open(QIODevice::ReadOnly);
            sink_->start(reader_.get());
        }
    }

    void close()
    {
        if (source_)
            source_->stop();
        if (sink_)
            sink_->stop();
        source_.reset();
        sink_.reset();
        reader_.reset();
        inputIo_ = nullptr;
    }

private:
    void takeMicrophone()
    {
        const QByteArray bytes = inputIo_->readAll();
        microphone_.write(reinterpret_cast<const int16_t*>(bytes.constData()), int(bytes.size() / 2));
    }

    AudioRing& microphone_;
    AudioRing& loudspeaker_;
    std::unique_ptr<QAudioSource> source_;
    std::unique_ptr<QAudioSink> sink_;
    std::unique_ptr<RingReader> reader_;
    QIODevice* inputIo_ = nullptr;
};

CallAudio::CallAudio(QObject* parent)
    : QObject(parent)
    , microphone_(RingSamples)
    , loudspeaker_(RingSamples)
{
    thread_.setObjectName(QStringLiteral("call audio"));
    devices_ = new Devices(microphone_, loudspeaker_);
    devices_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, devices_, &QObject::deleteLater);
    thread_.start();
}

CallAudio::~CallAudio()
{
    stop();
    thread_.quit();
    thread_.wait();
}

QAudioDevice CallAudio::chosenInput()
{
    return chosen(QMediaDevices::audioInputs(), QMediaDevices::defaultAudioInput(), Settings::AudioInput.read());
}

QAudioDevice CallAudio::chosenOutput()
{
    return chosen(QMediaDevices::audioOutputs(), QMediaDevices::defaultAudioOutput(), Settings::AudioOutput.read());
}

void CallAudio::start()
{
    if (running_)
        return;
    running_ = true;
    microphone_.clear();
    loudspeaker_.clear();
    const QAudioDevice input = chosenInput();
    const QAudioDevice output = chosenOutput();
    QMetaObject::invokeMethod(devices_, [devices = devices_, input, output] { devices->open(input, output); });
}

void CallAudio::stop()
{
    if (!running_)
        return;
    running_ = false;
    // Waits for the devices to stop: the rings they write outlive no call.
    QMetaObject::invokeMethod(devices_, [devices = devices_] { devices->close(); }, Qt::BlockingQueuedConnection);
}

void CallAudio::capture(int16_t* frame)
{
    microphone_.read(frame, VoiceFormat::FrameSamples);
    if (muted_)
        std::fill(frame, frame + VoiceFormat::FrameSamples, int16_t(0));
}

void CallAudio::play(const int16_t* frame)
{
    loudspeaker_.write(frame, VoiceFormat::FrameSamples);
}

} // namespace cfb::client

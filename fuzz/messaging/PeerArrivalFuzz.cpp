// Hostile datagrams to Confabo::ReceiveDatagram, as they come in on the data port. Beyond
// surviving any bytes without a crash, a leak or undefined behaviour, the arrival handling must
//  - raise events only for a datagram that names its sender (a from_handle element);
//  - raise per datagram at most one frame (its bytes, then its picture, same sender) followed by
//    at most one message, and never a message with empty text or a frame over the cap;
//  - deliver a message and a frame chunk that the library itself wrote, with fields taken from
//    the input, exactly as written (text as arrivals read it: line ends made "\n", trimmed).
//
// The input is up to MaxDatagrams datagrams separated by four NUL bytes. The receiving state is
// reset after each input, so a failure reproduces from its input alone. The Confabo object runs
// with "Block All Data" set in a temporary settings store: it binds no socket and, as no one can
// be blocked without the service, arrivals make no service call either.
#include "messaging/Confabo.h"
#include "messaging/FrameAssembler.h"
#include "messaging/PeerDatagram.h"
#include "platform/Settings.h"
#include "protocol/Cp1252.h"
#include "transport/ivUDP.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int MaxDatagrams = 16;
constexpr QByteArrayView Separator("\0\0\0\0", 4);

struct Event {
    enum Kind { Message, FrameBytes, Frame } kind;
    QString from;
    QString email;
    int16_t port = 0;
    QString text;
    QByteArray bytes;
    QSize size;
};

struct Harness {
    QTemporaryDir settings;
    std::unique_ptr<cfb::Confabo> confabo;
    std::vector<Event> events;
};

Harness* harness = nullptr;

[[noreturn]] void fail(const char* what, const QString& detail = QString())
{
    std::fprintf(stderr, "peer arrival: %s %s\n", what, qPrintable(detail));
    std::abort();
}

// What arrives of a text the library sent: a NUL goes as '?', XML line ends become "\n", white
// space is trimmed.
QString asRead(QString text)
{
    return text.replace(QChar(0), u'?')
        .replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(u'\r', u'\n')
        .trimmed();
}

// Whether the bytes spell the element name in any encoding the parser accepts (single-byte or
// UTF-8, UTF-16 and UTF-32 of either byte order): without it no event may be raised.
bool spellsFromHandle(QByteArrayView bytes)
{
    static const QByteArray name = "from_handle";
    static const std::vector<QByteArray> spellings = [] {
        std::vector<QByteArray> all{name};
        for (int width : {2, 4}) {
            for (bool bigEndian : {false, true}) {
                QByteArray wide;
                for (char c : name) {
                    QByteArray unit(width, '\0');
                    unit[bigEndian ? width - 1 : 0] = c;
                    wide += unit;
                }
                all.push_back(wide);
            }
        }
        return all;
    }();
    for (const QByteArray& s : spellings)
        if (bytes.contains(s))
            return true;
    return false;
}

void checkRaised(QByteArrayView datagram, const Event* first, const Event* end)
{
    if (first == end)
        return;
    if (!spellsFromHandle(datagram))
        fail("event raised for a datagram without a sender");
    const Event* e = first;
    if (e != end && e->kind == Event::FrameBytes) {
        if (e->bytes.size() > cfb::FrameAssembler::MaxFrameBytes)
            fail("frame over the cap:", QString::number(e->bytes.size()));
        if (e + 1 == end || e[1].kind != Event::Frame || e[1].from != e->from)
            fail("frame bytes not followed by the frame of the same sender");
        if (e[1].size.width() > 8192 || e[1].size.height() > 8192)
            fail("frame picture of absurd size");
        e += 2;
    }
    if (e != end && e->kind == Event::Message) {
        if (e->text.isEmpty())
            fail("message event with empty text");
        ++e;
    }
    if (e != end)
        fail("unexpected events or order for one datagram");
}

void receive(QByteArrayView datagram)
{
    const size_t before = harness->events.size();
    harness->confabo->ReceiveDatagram(datagram);
    checkRaised(datagram, harness->events.data() + before, harness->events.data() + harness->events.size());
}

// A message and a frame chunk written by the library from the input's bytes arrive unchanged.
void checkOwnDatagramsArrive(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int16_t port = in.ConsumeIntegral<int16_t>();
    const std::string handleBytes = in.ConsumeRandomLengthString(64);
    const std::string emailBytes = in.ConsumeRandomLengthString(64);
    const std::string textBytes = in.ConsumeRandomLengthString(4096);
    const QString handle = cfb::fromCp1252(QByteArrayView(handleBytes.data(), qsizetype(handleBytes.size())));
    const QString email = cfb::fromCp1252(QByteArrayView(emailBytes.data(), qsizetype(emailBytes.size())));
    const QString text = cfb::fromCp1252(QByteArrayView(textBytes.data(), qsizetype(textBytes.size())));

    harness->events.clear();
    const QByteArray message = cfb::PeerDatagram::message(handle, email, port, text);
    receive(message);
    if (asRead(text).isEmpty()) {
        if (!harness->events.empty())
            fail("event for a message without text");
    } else {
        if (harness->events.size() != 1)
            fail("own message did not arrive:", QString::fromLatin1(message.toPercentEncoding()));
        const Event& got = harness->events.front();
        if (got.from != asRead(handle) || got.email != asRead(email) || got.port != port || got.text != asRead(text))
            fail("own message arrived changed:", QString::fromLatin1(message.toPercentEncoding()));
    }

    // The frame chunk carries the whole input: any bytes travel, the sender's handle as before.
    const QByteArrayView chunk(
        reinterpret_cast<const char*>(data), qMin(qsizetype(size), cfb::PeerDatagram::FrameChunkSize - 1));
    if (chunk.isEmpty())
        return;
    harness->events.clear();
    QByteArray datagram;
    cfb::PeerDatagram::frameChunk(cfb::PeerDatagram::escapedText(handle), chunk, datagram);
    receive(datagram);
    if (harness->events.empty() || harness->events.front().kind != Event::FrameBytes)
        fail("own frame chunk did not arrive");
    if (harness->events.front().bytes != chunk || harness->events.front().from != asRead(handle))
        fail("own frame chunk arrived changed");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static int argc = 1;
    static char name[] = "fuzz_peer_arrival";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv); // the sockets' notifiers and timers want one

    harness = new Harness;
    if (!harness->settings.isValid())
        fail("no temporary folder for the settings");
    qputenv("XDG_CONFIG_HOME", harness->settings.filePath(QStringLiteral("config")).toLocal8Bit());
    cfb::Settings::BlockAllData.write(QStringLiteral("True"));
    harness->confabo = std::make_unique<cfb::Confabo>();
    if (!harness->confabo->blocksAllData() || harness->confabo->wsReceive()->State() != cfb::sckUDPClosed)
        fail("the receiving socket must stay unbound");

    cfb::Confabo* c = harness->confabo.get();
    auto& events = harness->events;
    QObject::connect(
        c, &cfb::Confabo::NewMessage, [&events](QString& from, QString& email, int16_t& port, QString& text) {
            events.push_back({Event::Message, from, email, port, text, {}, {}});
        });
    QObject::connect(c, &cfb::Confabo::VideoFrameBytes, [&events](QString& from, QByteArray& bytes) {
        events.push_back({Event::FrameBytes, from, {}, 0, {}, bytes, {}});
    });
    QObject::connect(c, &cfb::Confabo::VideoFrame, [&events](QString& from, QImage& picture) {
        events.push_back({Event::Frame, from, {}, 0, {}, {}, picture.size()});
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    harness->events.clear();
    qsizetype from = 0;
    for (int n = 0; n < MaxDatagrams && from <= input.size(); ++n) {
        qsizetype end = input.indexOf(Separator, from);
        if (end < 0)
            end = input.size();
        // UDP delivers no more than this in one datagram.
        receive(input.sliced(from, qMin(end - from, cfb::PeerDatagram::MaxDatagramSize)));
        from = end + Separator.size();
    }
    harness->confabo->CleanUp(); // forgets a frame being collected

    checkOwnDatagramsArrive(data, size);
    harness->confabo->CleanUp();
    harness->events.clear();
    return 0;
}

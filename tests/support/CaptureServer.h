#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// A loopback HTTP server for tests: it records each request's exact bytes and plays back a
// canned reply. It runs on its own thread, because the library's service calls block the
// calling thread.
class CaptureServer {
public:
    enum class Behaviour {
        Reply, // send the canned reply bytes, then close
        CloseAtOnce, // read the request, then close without a byte
        NeverAnswer, // read the request and hold the connection open until stopped
    };

    CaptureServer();
    ~CaptureServer();
    CaptureServer(const CaptureServer&) = delete;
    CaptureServer& operator=(const CaptureServer&) = delete;

    quint16 port() const { return port_; }
    QString serverSetting() const; // "127.0.0.1:PORT"

    // The reply for every following request: a 200 with this XML body by default. Bytes that are no
    // HTTP request (a TLS greeting) are recorded and answered at once.
    void replyWithXml(const QByteArray& xml);
    void replyRaw(const QByteArray& responseBytes);
    // A reply for requests of one operation ("mode=NAME" of a form body), ahead of the general one.
    void replyWithXmlFor(const QByteArray& mode, const QByteArray& xml);
    void setBehaviour(Behaviour behaviour);

    // Requests received so far (request line, headers and body exactly as sent).
    QList<QByteArray> requests() const;
    QByteArray lastRequest() const;
    QByteArray lastBody() const;
    int requestCount() const;

    QList<QByteArray> bodies() const;
    static QByteArray bodyOf(const QByteArray& request);
    static QByteArray headerValue(const QByteArray& request, const QByteArray& name);

private:
    void run();
    void serve(int client);

    int listener_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    QByteArray response_;
    QHash<QByteArray, QByteArray> responseFor_;
    Behaviour behaviour_ = Behaviour::Reply;
    QList<QByteArray> requests_;
    std::thread thread_;
};

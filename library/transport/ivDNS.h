#pragma once

#include "transport/ivSubclass.h"

#include <QHostInfo>
#include <QObject>
#include <QString>
#include <cstdint>

namespace cfb {

class ivNotifyDNS;

// Resolves one host name (or reverse-resolves one dotted IPv4 address) at a time without blocking
// the thread. The look-up runs in QHostInfo's pool; its end reaches the thread's hidden window as
// message 17427 and the target hears of it through ivNotifyDNS::DNSSingleJobDone.
//
// The target is not owned and must outlive the look-up (or cancel it); ivUDP owns its resolver,
// so that holds for it.
class ivDNS : public QObject, public ivSubclass {
    Q_OBJECT
public:
    explicit ivDNS(QObject* parent = nullptr);
    ~ivDNS() override;
    ivDNS(const ivDNS&) = delete;
    ivDNS& operator=(const ivDNS&) = delete;

    // Cancels the pending look-up, if any; the target hears of it with rCancelled true.
    void CancelDNS();
    // Starts a look-up and gives its job handle. The same name (trimmed, any letter case) while
    // its look-up runs gives the running job's handle and starts nothing; another name cancels the
    // running job first. An empty name gives -1 and no callback; a look-up that cannot start
    // gives -1 after a callback with error 10093.
    int32_t DNS(const QString& HostAny, ivNotifyDNS* idx);

    bool Busy() const { return busy_; }
    int32_t JobHandle() const { return job_; }

    EMsgResponse MsgResponse() const override { return emrConsume; }
    void setMsgResponse(EMsgResponse) override { }
    int32_t WindowProc(int32_t hwnd, int32_t iMsg, int32_t wParam, int32_t lParam) override;

private:
    void lookedUp(int32_t job, const QHostInfo& info);
    void cancelPending();

    bool started_ = false;
    int32_t hwnd_ = 0;
    QHostInfo result_;
    ivNotifyDNS* target_ = nullptr;
    QString name_;
    int32_t job_ = -1;
    bool busy_ = false;
};

} // namespace cfb

#include "transport/ivDNS.h"

#include "transport/ivNotifyDNS.h"
#include "transport/ivhWnd.h"
#include "transport/vAPI.h"
#include "transport/vSubclass.h"
#include "transport/vWinsock.h"

#include <QHostAddress>
#include <QPointer>

#include <atomic>

namespace cfb {
namespace {

int32_t nextJob()
{
    static std::atomic<int32_t> counter{0};
    int32_t job = 0;
    do {
        job = counter.fetch_add(1, std::memory_order_relaxed) + 1;
    } while (job <= 0);
    return job;
}

// Calls the target with copies it may change, as by-reference callback arguments allow.
void notify(ivNotifyDNS* target, int32_t job, const QString& asked, const QString& official, const QString& alias,
    const QString& address, bool cancelled, bool error, int32_t code, const QString& description)
{
    if (!target)
        return;
    int32_t jhWnd = job;
    QString phName = asked;
    QString hName = official;
    QString hAlias = alias;
    QString hIP = address;
    bool rCancelled = cancelled;
    bool rError = error;
    int32_t rErrorCode = code;
    QString rErrorDescription = description;
    target->DNSSingleJobDone(jhWnd, phName, hName, hAlias, hIP, rCancelled, rError, rErrorCode, rErrorDescription);
}

QString firstIPv4(const QHostInfo& info)
{
    for (const QHostAddress& a : info.addresses()) {
        bool isV4 = false;
        const quint32 v4 = a.toIPv4Address(&isV4);
        if (isV4 && v4 != 0)
            return a.toString();
    }
    return {};
}

int32_t errorCode(const QHostInfo& info)
{
    switch (info.error()) {
    case QHostInfo::NoError:
        // The transport speaks IPv4 only: a name with no IPv4 address has nothing to send to.
        return firstIPv4(info).isEmpty() ? vWinsock::WSANO_DATA : 0;
    case QHostInfo::HostNotFound:
        return vWinsock::WSAHOST_NOT_FOUND;
    default:
        // Qt folds every other resolver failure (mostly "try again later") into UnknownError.
        return vWinsock::WSATRY_AGAIN;
    }
}

} // namespace

ivDNS::ivDNS(QObject* parent)
    : QObject(parent)
{
    started_ = vWinsock::Startup();
    hwnd_ = vWinsock::HiddenWindow();
    vSubclass::AttachMessage(this, hwnd_, vWinsock::MSG_DNS);
    vSubclass::AttachMessage(this, hwnd_, vWinsock::WM_TIMER);
}

ivDNS::~ivDNS()
{
    CancelDNS();
    vSubclass::DetachMessage(this, hwnd_, vWinsock::MSG_DNS);
    vSubclass::DetachMessage(this, hwnd_, vWinsock::WM_TIMER);
    if (started_)
        vWinsock::Cleanup();
}

void ivDNS::CancelDNS()
{
    if (busy_)
        cancelPending();
}

void ivDNS::cancelPending()
{
    // The look-up itself is left to finish: its answer no longer matches the pending job and is
    // dropped. (QHostInfo::abortHostLookup leaks the callback it drops in Qt 6.4.)
    const int32_t job = job_;
    const QString name = name_;
    ivNotifyDNS* target = target_;
    busy_ = false;
    job_ = -1;
    result_ = QHostInfo();
    notify(target, job, name, {}, {}, {}, true, false, 0, {});
}

int32_t ivDNS::DNS(const QString& HostAny, ivNotifyDNS* idx)
{
    const QString name = HostAny.trimmed().toLower();
    if (busy_ && name == name_)
        return job_;
    if (name.isEmpty())
        return -1;

    QPointer<ivDNS> self(this);
    if (busy_) {
        cancelPending();
        if (!self)
            return -1;
    }
    name_ = name;
    target_ = idx;

    if (!started_ || !ivhWnd::FromHandle(hwnd_)) {
        notify(target_, -1, name_, {}, {}, {}, false, true, vWinsock::WSANOTINITIALISED,
            vWinsock::ErrorText(vWinsock::WSANOTINITIALISED));
        return -1;
    }

    const int32_t job = nextJob();
    job_ = job;
    busy_ = true;
    result_ = QHostInfo();
    // QHostInfo takes a dotted address as a reverse look-up.
    // No context object: Qt 6.4 leaks the callback of a look-up whose context went away first.
    // The callback runs on this thread all the same and checks that the resolver still exists.
    QHostInfo::lookupHost(name_, [self = QPointer<ivDNS>(this), job](const QHostInfo& info) {
        if (self)
            self->lookedUp(job, info);
    });
    return job;
}

void ivDNS::lookedUp(int32_t job, const QHostInfo& info)
{
    if (!busy_ || job != job_)
        return; // a look-up cancelled after it had finished
    result_ = info;
    const int32_t lParam = vAPI::MakeLong(0, errorCode(info));
    if (!ivhWnd::PostMessage(hwnd_, vWinsock::MSG_DNS, job, lParam))
        WindowProc(hwnd_, vWinsock::MSG_DNS, job, lParam);
}

int32_t ivDNS::WindowProc(int32_t, int32_t iMsg, int32_t wParam, int32_t lParam)
{
    if (iMsg != vWinsock::MSG_DNS || !busy_ || wParam != job_)
        return 0; // the timer tick, or a completion of a job that is no longer pending

    // Back to idle before the target runs, so that it may start the next look-up from its
    // handler (or destroy this object).
    const int32_t job = job_;
    const QString name = name_;
    ivNotifyDNS* target = target_;
    const QHostInfo info = result_;
    busy_ = false;
    job_ = -1;
    name_.clear();
    result_ = QHostInfo();

    const int32_t code = vAPI::HiWord(lParam);
    if (code != 0) {
        notify(target, job, name, {}, {}, {}, false, true, code, vWinsock::ErrorText(code));
        return 0;
    }
    notify(target, job, name, info.hostName(), {}, firstIPv4(info), false, false, 0, {});
    return 0;
}

} // namespace cfb

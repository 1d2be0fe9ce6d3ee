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
    m_started = vWinsock::Startup();
    m_hwnd = vWinsock::HiddenWindow();
    vSubclass::AttachMessage(this, m_hwnd, vWinsock::MSG_DNS);
    vSubclass::AttachMessage(this, m_hwnd, vWinsock::WM_TIMER);
}

ivDNS::~ivDNS()
{
    CancelDNS();
    vSubclass::DetachMessage(this, m_hwnd, vWinsock::MSG_DNS);
    vSubclass::DetachMessage(this, m_hwnd, vWinsock::WM_TIMER);
    if (m_started)
        vWinsock::Cleanup();
}

void ivDNS::CancelDNS()
{
    if (m_busy)
        cancelPending();
}

void ivDNS::cancelPending()
{
    // The look-up itself is left to finish: its answer no longer matches the pending job and is
    // dropped. (QHostInfo::abortHostLookup leaks the callback it drops in Qt 6.4.)
    const int32_t job = m_job;
    const QString name = m_name;
    ivNotifyDNS* target = m_target;
    m_busy = false;
    m_job = -1;
    m_result = QHostInfo();
    notify(target, job, name, {}, {}, {}, true, false, 0, {});
}

int32_t ivDNS::DNS(const QString& HostAny, ivNotifyDNS* idx)
{
    const QString name = HostAny.trimmed().toLower();
    if (m_busy && name == m_name)
        return m_job;
    if (name.isEmpty())
        return -1;

    QPointer<ivDNS> self(this);
    if (m_busy) {
        cancelPending();
        if (!self)
            return -1;
    }
    m_name = name;
    m_target = idx;

    if (!m_started || !ivhWnd::FromHandle(m_hwnd)) {
        notify(m_target, -1, m_name, {}, {}, {}, false, true, vWinsock::WSANOTINITIALISED,
            vWinsock::ErrorText(vWinsock::WSANOTINITIALISED));
        return -1;
    }

    const int32_t job = nextJob();
    m_job = job;
    m_busy = true;
    m_result = QHostInfo();
    // QHostInfo takes a dotted address as a reverse look-up.
    // No context object: Qt 6.4 leaks the callback of a look-up whose context went away first.
    // The callback runs on this thread all the same and checks that the resolver still exists.
    QHostInfo::lookupHost(m_name, [self = QPointer<ivDNS>(this), job](const QHostInfo& info) {
        if (self)
            self->lookedUp(job, info);
    });
    return job;
}

void ivDNS::lookedUp(int32_t job, const QHostInfo& info)
{
    if (!m_busy || job != m_job)
        return; // a look-up cancelled after it had finished
    m_result = info;
    const int32_t lParam = vAPI::MakeLong(0, errorCode(info));
    if (!ivhWnd::PostMessage(m_hwnd, vWinsock::MSG_DNS, job, lParam))
        WindowProc(m_hwnd, vWinsock::MSG_DNS, job, lParam);
}

int32_t ivDNS::WindowProc(int32_t, int32_t iMsg, int32_t wParam, int32_t lParam)
{
    if (iMsg != vWinsock::MSG_DNS || !m_busy || wParam != m_job)
        return 0; // the timer tick, or a completion of a job that is no longer pending

    // Back to idle before the target runs, so that it may start the next look-up from its
    // handler (or destroy this object).
    const int32_t job = m_job;
    const QString name = m_name;
    ivNotifyDNS* target = m_target;
    const QHostInfo info = m_result;
    m_busy = false;
    m_job = -1;
    m_name.clear();
    m_result = QHostInfo();

    const int32_t code = vAPI::HiWord(lParam);
    if (code != 0) {
        notify(target, job, name, {}, {}, {}, false, true, code, vWinsock::ErrorText(code));
        return 0;
    }
    notify(target, job, name, info.hostName(), {}, firstIPv4(info), false, false, 0, {});
    return 0;
}

} // namespace cfb

#include "WindowRound.h"

#include "EventLoopWait.h"
#include "StallWorld.h"

#include "buddies/frmBuddyList.h"
#include "common/UserDialogs.h"
#include "common/modMain.h"
#include "mainwindow/frmMain.h"
#include "messaging/Confabo.h"
#include "messaging/PollingClock.h"
#include "messaging/modINET.h"
#include "platform/Settings.h"
#include "session/ClientSession.h"
#include "setup/frmSetup.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTabBar>
#include <QTextBrowser>
#include <QTimer>

#include <cstdio>

namespace Settings = cfb::Settings;
using cfb::client::frmMain;

namespace {

constexpr int GraceMs = 50; // the event loop's turn after an outcome, counted into the stall
constexpr int OutcomeWaitMs = 30000;

// Thrown by the exit hook while a sign-in that fails is measured: the program would end there.
struct ProgramEnded { };

// Runs action from inside the modal loop of the first dialog of type W that shows.
template <typename W> class WhenShown : public QObject {
public:
    explicit WhenShown(std::function<void(W*)> action)
        : action_(std::move(action))
    {
        qApp->installEventFilter(this);
    }
    ~WhenShown() override { qApp->removeEventFilter(this); }
    bool ran() const { return ran_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!ran_ && event->type() == QEvent::Show)
            if (auto* dialog = dynamic_cast<W*>(watched); dialog && dialog->isModal()) {
                ran_ = true;
                QPointer<W> shown(dialog);
                QTimer::singleShot(0, dialog, [this, shown] {
                    if (shown)
                        action_(shown);
                });
            }
        return false;
    }

private:
    std::function<void(W*)> action_;
    bool ran_ = false;
};

template <typename W> W* child(QObject* parent, const char* name)
{
    return parent->findChild<W*>(QLatin1String(name));
}

long long refusedRequests()
{
    return static_cast<long long>(cfb::ServiceChannel::current().refusedRequests);
}

long long g_refusedAtBegin = 0;

} // namespace

WindowRound::WindowRound(StallWorld& world, StallTable& table, StallTable::Service service, int round)
    : world_(world)
    , table_(table)
    , service_(service)
    , round_(round)
{
}

WindowRound::~WindowRound() = default;

void WindowRound::run()
{
    try {
        if (service_ == StallTable::Silent)
            signInToSilentService();
        useService(service_ == StallTable::Silent ? StallTable::Healthy : service_);
        if (!signIn(service_ != StallTable::Silent)) {
            std::fprintf(stderr, "round %d: the window did not sign in\n", round_);
            return;
        }
        useService(service_);
        busy();
        poll();
        selectTab();
        send();
        shout();
        for (int i = 0; i < world_.pictures.size(); ++i)
            picture(i);
        setup();
        buddyEditor();
        exitApplication();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "round %d: %s\n", round_, e.what());
    } catch (const ProgramEnded&) {
        std::fprintf(stderr, "round %d: the program would have ended\n", round_);
    }
    window_.reset();
    useService(StallTable::Healthy);
}

void WindowRound::useService(StallTable::Service service)
{
    switch (service) {
    case StallTable::Healthy:
        world_.proxy.passThrough();
        break;
    case StallTable::Slow:
        world_.proxy.delayAnswers(2000);
        break;
    default:
        world_.proxy.neverAnswer();
        break;
    }
}

void WindowRound::begin()
{
    g_refusedAtBegin = refusedRequests();
    heartbeat_.start();
    start_ = Clock::now();
}

void WindowRound::finish(const QString& action, bool outcome, Clock::time_point at)
{
    runFor(GraceMs);
    table_.add(action, service_, {double(heartbeat_.longestGapMs()), ms(at - start_), outcome});
    table_.addRefused(action, refusedRequests() - g_refusedAtBegin);
}

bool WindowRound::settle(int ms)
{
    return !window_ || waitUntil([&] { return window_->session().pending() == 0; }, ms);
}

// Loads a window and signs in; background polls stay out of the measurements after that (the
// window's clock only moves when a poll is measured).
bool WindowRound::signIn(bool measured)
{
    Settings::PollingInterval.write(QStringLiteral("0"));
    window_ = std::make_unique<frmMain>();
    window_->setClock([this] { return pollAt_; });
    world_.dialogs.boxes.clear();
    begin();
    window_->Load();
    const Clock::time_point at = Clock::now();
    auto* tabs = window_->findChild<QTabBar*>(QStringLiteral("tabBuddies"));
    QStringList shown;
    for (int i = 0; tabs && i < tabs->count(); ++i)
        shown << tabs->tabText(i);
    const bool ok = shown == StallWorld::Buddies && window_->panelText(1) == StallWorld::User;
    if (measured)
        finish(QStringLiteral("sign-in"), ok, at);
    Settings::PollingInterval.write(QStringLiteral("3600"));
    window_->hide();
    window_->tmr_Timer(); // hidden: sets the next poll an hour ahead without polling
    window_->show();
    return ok;
}

// A sign-in that the silent service never answers: it ends in the "Login Error" box, which the
// user cancels (and the program would end).
void WindowRound::signInToSilentService()
{
    Settings::PollingInterval.write(QStringLiteral("0"));
    auto window = std::make_unique<frmMain>(nullptr, [] { throw ProgramEnded{}; });
    useService(StallTable::Silent);
    double stall = -1;
    Clock::time_point toldAt = Clock::now();
    bool told = false;
    world_.dialogs.answers = {cfb::client::UserDialogs::AnswerCancel};
    world_.dialogs.onBox = [&](const ScriptedDialogs::Box& box) {
        if (stall < 0 && box.title == QLatin1String("Login Error")) {
            toldAt = Clock::now();
            stall = double(heartbeat_.longestGapMs());
            told = box.text.contains(QLatin1String("service"));
        }
    };
    begin();
    try {
        window->Load();
    } catch (const ProgramEnded&) {
    }
    world_.dialogs.onBox = {};
    world_.dialogs.answers.clear();
    table_.add(QStringLiteral("sign-in"), StallTable::Silent, {stall, ms(toldAt - start_), told});
    table_.addRefused(QStringLiteral("sign-in"), refusedRequests() - g_refusedAtBegin);
    window.reset();
}

void WindowRound::busy()
{
    settle();
    begin();
    window_->findChild<QAction*>(QStringLiteral("mnuBusy"))->trigger();
    const bool answered = waitUntil([&] { return window_->session().pending() == 0; }, OutcomeWaitMs);
    const Clock::time_point at = Clock::now();
    const QString expected = service_ == StallTable::Silent ? QStringLiteral("Available") : QStringLiteral("Busy");
    finish(QStringLiteral("Busy"), answered && window_->panelText(2) == expected, at);
    if (window_->panelText(2) == QLatin1String("Busy")) {
        window_->findChild<QAction*>(QStringLiteral("mnuAvailable"))->trigger();
        settle();
    }
}

void WindowRound::poll()
{
    settle();
    // The buddies' values are reused within a second of the polling clock: this poll asks anew.
    const int64_t second = cfb::PollingClock::nowSeconds();
    waitUntil([&] { return cfb::PollingClock::nowSeconds() > second; }, 2000);
    const int connections = world_.proxy.connections();
    pollAt_ = pollAt_.addSecs(7200);
    begin();
    window_->tmr_Timer();
    const bool answered = waitUntil([&] { return window_->session().pending() == 0; }, OutcomeWaitMs);
    const Clock::time_point at = Clock::now();
    const int asked = world_.proxy.connections() - connections;
    // Three USER_INFO and three USER_AVATAR; a silent service ends the poll at its first request.
    finish(QStringLiteral("poll tick, 3 buddies"),
        answered && (service_ == StallTable::Silent ? asked == 1 : asked == 6), at);
}

void WindowRound::selectBuddy(const QString& handle)
{
    auto* tabs = window_->findChild<QTabBar*>(QStringLiteral("tabBuddies"));
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->tabText(i) == handle)
            tabs->setCurrentIndex(i);
    runFor(GraceMs);
}

void WindowRound::selectTab()
{
    settle();
    auto* tabs = window_->findChild<QTabBar*>(QStringLiteral("tabBuddies"));
    const int next = (tabs->currentIndex() + 1) % tabs->count();
    begin();
    tabs->setCurrentIndex(next);
    const Clock::time_point at = Clock::now();
    finish(QStringLiteral("select a tab"), window_->SelBuddy() && window_->SelBuddy()->handle() == tabs->tabText(next),
        at);
}

void WindowRound::send()
{
    settle();
    selectBuddy(StallWorld::Buddies[0]);
    const QString text = QStringLiteral("round %1: are you there?").arg(round_);
    child<QLineEdit>(window_.get(), "txtMessage")->setText(text);
    BuddyEars& ears = *world_.ears;
    const int64_t before = ears.count(0);
    begin();
    child<QPushButton>(window_.get(), "cmdSend")->click();
    const bool arrived = waitUntil([&] { return ears.count(0) > before; }, OutcomeWaitMs);
    const Clock::time_point at = arrived ? ears.lastArrival(0) : Clock::now();
    finish(QStringLiteral("Send"),
        arrived && child<QTextBrowser>(window_.get(), "txtChat")->toPlainText().contains(text), at);
}

void WindowRound::shout()
{
    settle();
    child<QLineEdit>(window_.get(), "txtMessage")->setText(QStringLiteral("round %1: hello all").arg(round_));
    BuddyEars& ears = *world_.ears;
    const int buddies = int(StallWorld::Buddies.size());
    std::vector<int64_t> before;
    for (int i = 0; i < buddies; ++i)
        before.push_back(ears.count(i));
    const auto allArrived = [&] {
        for (int i = 0; i < buddies; ++i)
            if (ears.count(i) <= before[size_t(i)])
                return false;
        return true;
    };
    begin();
    child<QPushButton>(window_.get(), "cmdShout")->click();
    const bool arrived = waitUntil(allArrived, OutcomeWaitMs);
    Clock::time_point at = start_;
    for (int i = 0; i < buddies; ++i)
        at = std::max(at, ears.lastArrival(i));
    finish(QStringLiteral("Shout, 3 tabs"), arrived, arrived ? at : Clock::now());
}

void WindowRound::picture(int index)
{
    settle();
    selectBuddy(StallWorld::Buddies[0]);
    const StallWorld::Picture& picture = world_.pictures[index];
    world_.dialogs.filesToOpen = {picture.path};
    world_.dialogs.boxes.clear();
    BuddyEars& ears = *world_.ears;
    const int64_t before = ears.count(0);
    begin();
    child<QPushButton>(window_.get(), "cmdPic")->click();
    const bool arrived = waitUntil([&] { return ears.count(0) > before; }, OutcomeWaitMs);
    const Clock::time_point at = arrived ? ears.lastArrival(0) : Clock::now();
    finish(picture.name, arrived && world_.dialogs.boxes.isEmpty(), at);
}

// Setup opens; the e-mail address changes and OK applies it. With a silent service the outcome
// due is an error the user sees.
void WindowRound::setup()
{
    settle();
    const QString email = QStringLiteral("cordelia.w%1@example.org").arg(round_);
    Clock::time_point appliedAt;
    world_.dialogs.boxes.clear();
    WhenShown<cfb::client::frmSetup> apply([&](cfb::client::frmSetup* setup) {
        finish(QStringLiteral("Setup: open"), true, Clock::now());
        begin();
        child<QLineEdit>(setup, "txtEmail")->setText(email);
        child<QPushButton>(setup, "cmdOK")->click();
        appliedAt = Clock::now();
        if (setup->isVisible())
            setup->reject(); // a change the service did not take keeps the dialog open
    });
    begin();
    window_->dialogs().showSetup(window_.get());
    const bool ok
        = service_ == StallTable::Silent ? !world_.dialogs.boxes.isEmpty() : window_->library()->Email() == email;
    finish(QStringLiteral("Setup: apply e-mail"), apply.ran() && ok, appliedAt);
}

// The buddy-list editor opens (it asks for the block list first); a guest is added by handle.
// With a silent service the outcome due is an error the user sees.
void WindowRound::buddyEditor()
{
    settle();
    const QString guest = service_ == StallTable::Silent ? QStringLiteral("guest-unreached") : world_.nextGuest();
    WhenShown<cfb::client::frmBuddyList> add([&](cfb::client::frmBuddyList* editor) {
        finish(QStringLiteral("Buddies: open editor"), true, Clock::now());
        settle(); // the first entry's avatar, asked for on opening
        world_.dialogs.boxes.clear();
        begin();
        child<QLineEdit>(editor, "txtEmail")->setText(guest);
        child<QPushButton>(editor, "cmdAdd")->click();
        const Clock::time_point at = Clock::now();
        const bool ok = service_ == StallTable::Silent
            ? !world_.dialogs.boxes.isEmpty()
            : child<QListWidget>(editor, "lstBuddies")->findItems(guest, Qt::MatchExactly).size() == 1;
        finish(QStringLiteral("Buddies: Add"), ok, at);
        if (service_ == StallTable::Silent && !world_.dialogs.boxes.isEmpty())
            std::printf(
                "  (silent service, Add told the user: \"%s\")\n", qPrintable(world_.dialogs.boxes.last().text));
        editor->reject();
    });
    begin();
    window_->findChild<QAction*>(QStringLiteral("toolBuddies"))->trigger();
    settle();
}

void WindowRound::exitApplication()
{
    settle();
    begin();
    window_->Unload();
    const Clock::time_point at = Clock::now();
    finish(QStringLiteral("Exit"), !window_->isVisible(), at);
    window_.reset();
}

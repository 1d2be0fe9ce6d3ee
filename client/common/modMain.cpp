#include "common/modMain.h"

#include "common/EventLog.h"
#include "common/HelpWindow.h"
#include "common/UserDialogs.h"
#include "common/frmPopup.h"
#include "platform/Settings.h"

#include <QAction>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace cfb::client::modMain {
namespace {

QPointer<QWidget> mainWindow_;
std::function<void()> unload_;
std::function<void()> exitHook_;
DialogOpeners openers_;
// Questions waiting now; "Open..." stays disabled until the last one returns.
int openQuestions = 0;

QAction* popupOpenItem()
{
    return mainWindow_ ? mainWindow_->findChild<QAction*>(QStringLiteral("mnuPopupOpen")) : nullptr;
}

bool open(const std::function<bool(QWidget*)>& opener, QWidget* owner)
{
    return mainWindow_ && opener && opener(owner);
}

} // namespace

void ReportError(const QString& description, int eventType, bool show)
{
    EventLog::write(description, eventType);
    if (show && Settings::DisplayErrors.read() == QLatin1String("1")) {
        const QString title = QLatin1String(AppTitle);
        UserDialogs::current().messageBox(mainWindow_, title + QStringLiteral(" Error: ") + description,
            UserDialogs::Buttons::Ok, UserDialogs::Icon::Critical, title + QStringLiteral(" Error"));
    }
}

bool ShowHelp(int topic)
{
    HelpWindow* window = HelpWindow::showTopic(topic, mainWindow_);
    return window && window->isVisible();
}

void SelectAllText(QLineEdit* field)
{
    if (field)
        field->setSelection(0, int(field->text().size()));
}

void setMainWindow(QWidget* mainWindow, std::function<void()> unload)
{
    mainWindow_ = mainWindow;
    unload_ = mainWindow ? std::move(unload) : std::function<void()>();
}

QWidget* mainWindow()
{
    return mainWindow_;
}

void setDialogOpeners(DialogOpeners openers)
{
    openers_ = std::move(openers);
}

bool ShowSetupDialog(QWidget* owner)
{
    return open(openers_.setup, owner);
}

bool ShowFirstRegistration(QWidget* owner)
{
    return open(openers_.firstRegistration, owner);
}

bool ShowBuddyListEditor(QWidget* owner)
{
    return open(openers_.buddyListEditor, owner);
}

bool ShowInviteDialog(QWidget* owner)
{
    return open(openers_.invite, owner);
}

void ExitApplication()
{
    // Forget the window first: its exit sequence may close windows that ask for it.
    std::function<void()> unload = std::move(unload_);
    const bool loaded = !mainWindow_.isNull();
    mainWindow_ = nullptr;
    unload_ = nullptr;
    if (loaded && unload)
        unload();
    if (exitHook_)
        exitHook_();
    // The settings are written through at every change, so nothing is left to save; ending here
    // without running static destructors keeps them from meeting the live application object and
    // the speech thread.
    std::fflush(nullptr);
    std::_Exit(0);
}

void setExitHook(std::function<void()> hook)
{
    exitHook_ = std::move(hook);
}

int PopupMsgBox(const QString& prompt, const QString& title, int helpContext, bool* dontAskAgain)
{
    ++openQuestions;
    if (QAction* open = popupOpenItem())
        open->setEnabled(false);

    QPointer<frmPopup> popup = new frmPopup;
    popup->setPrompt(prompt);
    popup->setHelpContext(helpContext);
    popup->setWindowTitle(title);
    bool dontAsk = false;
    if (dontAskAgain) {
        popup->offerDontAskAgain();
        // Read as it is answered: a "No" closes the window by itself.
        QObject::connect(popup, &frmPopup::answered, popup, [&dontAsk, shown = popup.data()] {
            dontAsk = shown->dontAskAgain();
        });
    }
    // The question slides in where notifications do and waits for a click: it takes no keyboard
    // from the window the user is typing in, where a space would answer it unread.
    popup->setAttribute(Qt::WA_ShowWithoutActivating);
    popup->show();
    popup->raise();
    const int result = popup->waitForAnswer();
    if (dontAskAgain)
        *dontAskAgain = dontAsk;
    if (popup)
        popup->closeByProgram();

    if (--openQuestions == 0) {
        if (QAction* open = popupOpenItem())
            open->setEnabled(true);
    }
    return result;
}

} // namespace cfb::client::modMain

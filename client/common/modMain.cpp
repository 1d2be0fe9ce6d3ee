#include "common/modMain.h"

#include "common/EventLog.h"
#include "common/HelpWindow.h"
#include "common/UserDialogs.h"
#include "common/frmPopup.h"
#include "platform/Settings.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace cfb::client::modMain {

void ReportError(const QString& description, int eventType, bool show)
{
    EventLog::write(description, eventType);
    if (show && Settings::DisplayErrors.read() == QLatin1String("1")) {
        const QString title = QLatin1String(AppTitle);
        UserDialogs::current().messageBox(QApplication::activeWindow(),
            title + QStringLiteral(" Error: ") + description, UserDialogs::Buttons::Ok, UserDialogs::Icon::Critical,
            title + QStringLiteral(" Error"));
    }
}

bool ShowHelp(int topic)
{
    // A window of its own: it outlives the dialog it was asked from.
    HelpWindow* window = HelpWindow::showTopic(topic, nullptr);
    return window && window->isVisible();
}

void SelectAllText(QLineEdit* field)
{
    if (field)
        field->setSelection(0, int(field->text().size()));
}

void ExitApplication()
{
    std::fflush(nullptr);
    std::_Exit(0);
}

int PopupMsgBox(const QString& prompt, const QString& title, int helpContext, bool* dontAskAgain)
{
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
    return result;
}

} // namespace cfb::client::modMain

#include "setup/ApplicationTab.h"

#include "common/LocalErrorHandler.h"
#include "common/modMain.h"
#include "desktop/AutoStart.h"
#include "platform/Settings.h"
#include "session/ClientSession.h"
#include "setup/DigitKeyFilter.h"
#include "setup/SetupHelpers.h"
#include "speech/SpeechEngine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace cfb::client {
namespace {

const QStringList PollingIntervals = {QStringLiteral("30"), QStringLiteral("60"), QStringLiteral("90"),
    QStringLiteral("120"), QStringLiteral("180"), QStringLiteral("240")};

QString oneOrZero(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

// A box is checked by a stored "1"; anything else, a missing key included, leaves it unchecked.
bool isOn(const Setting& setting)
{
    return setting.read(QString()).trimmed() == QLatin1String("1");
}

} // namespace

ApplicationTab::ApplicationTab(const Widgets& widgets, ClientSession& session, QWidget* dialog)
    : QObject(dialog)
    , ui_(widgets)
    , session_(session)
    , dialog_(dialog)
{
    ui_.txtDataPort->installEventFilter(new DigitKeyFilter(this));
    connect(ui_.chkAutoLogin, &QCheckBox::toggled, this, &ApplicationTab::autoLoginChanged);
    connect(ui_.chkSpeech, &QCheckBox::toggled, this, &ApplicationTab::speechChanged);
    connect(ui_.chkHostname, &QCheckBox::toggled, this, &ApplicationTab::hostnameChanged);
    connect(ui_.cmdEditVoices, &QPushButton::clicked, this, &ApplicationTab::editVoices);
}

void ApplicationTab::load(AccountForm::Mode mode)
{
    ui_.cmbPoll->addItems(PollingIntervals);
    if (SpeechEngine* speech = session_.speech()) {
        for (int voice = 1;; ++voice) {
            const QString name = speech->voiceName(voice);
            if (name.isEmpty())
                break;
            ui_.cmbVoice->addItem(name);
        }
        ui_.cmbVoice->setCurrentIndex(speech->currentVoice() - 1);
    }

    installedProgram_ = AutoStart::installedProgram();
    ui_.chkAutoLogin->setChecked(isOn(Settings::AutoLogin));
    ui_.chkAutoRun->setChecked(isOn(Settings::AutoRun) && !installedProgram_.isEmpty());
    ui_.chkTaskbar->setChecked(isOn(Settings::Taskbar));
    ui_.chkSpeech->setChecked(isOn(Settings::EnableSpeech));
    ui_.chkErrors->setChecked(isOn(Settings::DisplayErrors));
    // The library's default, so that every installation left at its defaults uses one port.
    ui_.txtDataPort->setText(Settings::DataPort.read());
    ui_.txtHostname->setText(Settings::HostName.read(QString()));
    ui_.chkHostname->setChecked(!ui_.txtHostname->text().isEmpty());
    hostnameChanged();
    speechChanged();
    autoLoginChanged();
    // Starting at log-in is the user's choice to make.
    if (mode == AccountForm::Mode::Registration)
        ui_.chkAutoLogin->setChecked(true);
}

void ApplicationTab::activate()
{
    SetupHelpers::selectListText(ui_.cmbPoll, Settings::PollingInterval.read(QStringLiteral("30")));
    autoLoginChanged();
}

// Starting at log-in needs an installed program and automatic sign-in.
void ApplicationTab::autoLoginChanged()
{
    ui_.chkAutoRun->setEnabled(ui_.chkAutoLogin->isChecked() && !installedProgram_.isEmpty());
    if (!ui_.chkAutoLogin->isChecked())
        ui_.chkAutoRun->setChecked(false);
    // A greyed box says why it is greyed.
    ui_.chkAutoRun->setToolTip(installedProgram_.isEmpty()
            ? QStringLiteral("Confabo is not installed, so there is no program to start when you log in. Install "
                             "it (cmake --install) to use this.")
            : !ui_.chkAutoLogin->isChecked()
            ? QStringLiteral("Check \"Automatically log in when Confabo starts\" first: started at log-in, Confabo "
                             "signs in without asking.")
            : QStringLiteral("Start Confabo when you log in to your desktop."));
}

void ApplicationTab::speechChanged()
{
    ui_.cmbVoice->setEnabled(ui_.chkSpeech->isChecked());
}

void ApplicationTab::hostnameChanged()
{
    const bool on = ui_.chkHostname->isChecked();
    ui_.txtHostname->setEnabled(on);
    QPalette palette = ui_.txtHostname->palette();
    const QColor background = on ? QColor(Qt::white) : palette.color(QPalette::Inactive, QPalette::Window);
    palette.setColor(QPalette::Active, QPalette::Base, background);
    palette.setColor(QPalette::Inactive, QPalette::Base, background);
    palette.setColor(QPalette::Disabled, QPalette::Base, background);
    ui_.txtHostname->setPalette(palette);
    if (on && dialog_->isVisible())
        ui_.txtHostname->setFocus();
}

void ApplicationTab::editVoices()
{
    withErrorReport("Edit Voices", [this] {
        if (SpeechEngine* speech = session_.speech())
            speech->showVoicesDialog(dialog_, QStringLiteral("Confabo Voices"));
    });
}

void ApplicationTab::save()
{
    Settings::PollingInterval.write(ui_.cmbPoll->currentText());
    Settings::EnableSpeech.write(oneOrZero(ui_.chkSpeech->isChecked()));
    session_.setSpeakIt(ui_.chkSpeech->isChecked());
    Settings::DefaultVoiceMode.write(QString::number(ui_.cmbVoice->currentIndex() + 1));
    Settings::AutoLogin.write(oneOrZero(ui_.chkAutoLogin->isChecked()));
    Settings::AutoRun.write(oneOrZero(ui_.chkAutoRun->isChecked()));
    Settings::Taskbar.write(oneOrZero(ui_.chkTaskbar->isChecked()));
    Settings::DisplayErrors.write(oneOrZero(ui_.chkErrors->isChecked()));
    saveDataPort();
    saveHostName();
    saveAutoRun();
}

// The receiving socket moves to the port in the field. A port that cannot be opened is not
// stored: the client keeps listening where it was, and the user is told.
void ApplicationTab::saveDataPort()
{
    const QString port = ui_.txtDataPort->text();
    QString reason;
    if (session_.rebindDataPort(port, &reason)) {
        Settings::DataPort.write(port);
        return;
    }
    const int current = session_.dataPort();
    const QString keeps = current > 0
        ? QStringLiteral("Confabo keeps receiving on data port %1.").arg(current)
        : QStringLiteral("Confabo receives nothing until a data port that can be opened is chosen.");
    SetupHelpers::tellWhileBusy(dialog_,
        QStringLiteral("Confabo cannot use data port %1 (%2). %3 Every buddy must use the same data port; "
                       "an installed Confabo may use one below 1024, otherwise choose one of 1024 or above.")
            .arg(port, reason, keeps),
        UserDialogs::Icon::Critical, QStringLiteral("Confabo - Data Port"));
}

void ApplicationTab::saveHostName()
{
    const QString title = QLatin1String(modMain::AppTitle);
    if (!ui_.chkHostname->isChecked()) {
        Settings::HostName.write(QString());
        Settings::HostName.erase();
    } else if (ui_.txtHostname->text() != Settings::HostName.read(QString())) {
        Settings::HostName.write(ui_.txtHostname->text());
        SetupHelpers::tellWhileBusy(dialog_,
            QStringLiteral("Hostname settings will take effect the next time you start ") + title,
            UserDialogs::Icon::Information, title);
    }
}

void ApplicationTab::saveAutoRun()
{
    const bool written = ui_.chkAutoRun->isChecked() ? AutoStart::enable() : AutoStart::disable();
    if (!written)
        modMain::ReportError(QStringLiteral("The autostart entry %1 could not be changed").arg(AutoStart::entryPath()),
            modMain::EventError, true);
}

} // namespace cfb::client

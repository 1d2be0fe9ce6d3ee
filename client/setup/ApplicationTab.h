#pragma once

#include "setup/AccountForm.h"

#include <QObject>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QWidget;

namespace cfb::client {

class ClientSession;

// The setup dialog's "Application Settings" tab: how Confabo starts and signs in, the polling
// interval, speech, the host name the service is told and the data port. Saving stores every
// setting, applies speech at once, moves the receiving socket to the data port and writes or
// removes the autostart entry.
class ApplicationTab : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QCheckBox* chkTaskbar;
        QCheckBox* chkAutoRun;
        QCheckBox* chkErrors;
        QCheckBox* chkAutoLogin;
        QComboBox* cmbPoll;
        QCheckBox* chkSpeech;
        QComboBox* cmbVoice;
        QPushButton* cmdEditVoices;
        QCheckBox* chkHostname;
        QLineEdit* txtHostname;
        QLineEdit* txtDataPort;
    };

    // dialog owns the widgets and the boxes the tab shows.
    ApplicationTab(const Widgets& widgets, ClientSession& session, QWidget* dialog);

    void load(AccountForm::Mode mode);
    // Each time the dialog comes up: the stored polling interval.
    void activate();
    void save();

private:
    void autoLoginChanged();
    void speechChanged();
    void hostnameChanged();
    void editVoices();
    void saveDataPort();
    void saveHostName();
    void saveAutoRun();

    const Widgets ui_;
    ClientSession& session_;
    QWidget* dialog_;
    // The installed program the autostart entry would start; empty when Confabo is not installed.
    QString installedProgram_;
};

} // namespace cfb::client

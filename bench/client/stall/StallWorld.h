#pragma once

#include "BuddyEars.h"
#include "ScriptedDialogs.h"
#include "ServiceProcess.h"
#include "StallingProxy.h"
#include "TempConfig.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <map>
#include <memory>

namespace cfb {
class Confabo;
}

// Everything the rounds share: a settings store and a confabo-service of their own with the
// stalling relay in front, cordelia (the window's user) with three buddies signed in at 127.0.0.2
// to .4, the buddies' ears on the data port, guests to add, and two picture files.
class StallWorld {
public:
    static const QStringList Buddies;
    static const QString User;

    StallWorld(int guests);
    ~StallWorld();

    bool ready() const { return problem_.isEmpty(); }
    QString problem() const { return problem_; }

    // A guest nobody has added yet (guest0, guest1, ...).
    QString nextGuest();
    quint16 dataPort() const { return dataPort_; }
    // Index of a buddy's ear by handle; -1 for others.
    static int earOf(const QString& handle) { return Buddies.indexOf(handle); }

    struct Picture {
        QString name; // the table's action
        QString path;
        QByteArray frame; // the bytes the Picture button sends for it
    };

    TempConfig config;
    ServiceProcess service;
    StallingProxy proxy{quint16(service.port())};
    ScriptedDialogs dialogs;
    QTemporaryDir files;
    std::unique_ptr<BuddyEars> ears;
    QList<Picture> pictures;

private:
    bool setUp(int guests);
    bool writePicture(const QString& name, QSize size);

    std::map<QString, std::unique_ptr<cfb::Confabo>> buddies_;
    quint16 dataPort_ = 0;
    int guestsUsed_ = 0;
    QString problem_;
};

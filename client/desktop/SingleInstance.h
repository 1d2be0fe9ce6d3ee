#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace cfb::client {

// One running program per user: the first start listens on a local socket named for the user;
// a later start connects to it, asks the running program to come to the front, and ends.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The name defaults to one per user and profile ("confabo-<uid>" for the usual profile).
    explicit SingleInstance(const QString& name = defaultName(), QObject* parent = nullptr);

    static QString defaultName();
    QString name() const { return name_; }

    // True when another instance answered on the name and was asked to come to the front.
    bool activateRunning(int timeoutMs = 2000);
    // Starts answering later starts; a name left behind by a program that died is taken over.
    // False when the name cannot be taken.
    bool listen();

signals:
    // A later start asked this one to come to the front.
    void activationRequested();

private:
    void onNewConnection();

    QString name_;
    QLocalServer server_;
};

} // namespace cfb::client

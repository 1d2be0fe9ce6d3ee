#pragma once

#include "chat/StrangerQueue.h"

#include <QObject>

#include <functional>

namespace cfb::client {

class ClientSession;

// Messages from strangers (users who are neither buddies nor on a tab) are invitations: one
// question at a time asks whether the user wants to chat, so a flood of strangers never stacks
// windows. The others wait their turn in a short queue, what does not fit is dropped (and logged,
// once a minute), and a stranger answered "No" is not asked again. Yes shows the message.
class StrangerInvitations : public QObject {
public:
    using Accept = std::function<void(const StrangerQueue::Invitation&)>;

    StrangerInvitations(ClientSession& session, Accept accept, QObject* parent = nullptr);

    void receive(const StrangerQueue::Invitation& invitation);

private:
    void ask(const StrangerQueue::Invitation& invitation);

    ClientSession& session_;
    Accept accept_;
    StrangerQueue queue_;
};

} // namespace cfb::client

#pragma once

#include "chat/FileTransfer.h"

#include <QList>
#include <QWidget>

#include <functional>

class QVBoxLayout;

namespace cfb::client {

// The files on their way to or from one buddy, under the conversation: a line each with the
// name, how far it is and a Cancel button. Hidden while there are none.
class TransferStrip : public QWidget {
    Q_OBJECT

public:
    explicit TransferStrip(QWidget* parent = nullptr);

    // Shows these transfers (the buddy's), in place of those shown before.
    void setTransfers(const QList<FileTransfer>& transfers);

signals:
    void cancelRequested(uint32_t id);

private:
    QVBoxLayout* rows_;
};

} // namespace cfb::client

#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QWidget;

namespace cfb::client {

// Files dropped from a file manager on a widget (a conversation): each local file is handed to
// dropped; anything else is not taken.
class FileDrops : public QObject {
public:
    FileDrops(QWidget& target, std::function<void(const QStringList& paths)> dropped);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(const QStringList&)> dropped_;
};

} // namespace cfb::client

#include "chat/FileDrops.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QWidget>

namespace cfb::client {

namespace {

QStringList localFiles(const QMimeData* data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
            paths << url.toLocalFile();
    return paths;
}

} // namespace

FileDrops::FileDrops(QWidget& target, std::function<void(const QStringList&)> dropped)
    : QObject(&target)
    , dropped_(std::move(dropped))
{
    target.setAcceptDrops(true);
    target.installEventFilter(this);
    // A text box takes drops in its viewport.
    for (QWidget* child : target.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        child->setAcceptDrops(true);
        child->installEventFilter(this);
    }
}

bool FileDrops::eventFilter(QObject*, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (localFiles(drag->mimeData()).isEmpty())
            return false;
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList paths = localFiles(drop->mimeData());
        if (paths.isEmpty())
            return false;
        drop->acceptProposedAction();
        dropped_(paths);
        return true;
    }
    default:
        return false;
    }
}

} // namespace cfb::client

#include "chat/TransferStrip.h"

#include "common/ByteSize.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace cfb::client {

TransferStrip::TransferStrip(QWidget* parent)
    : QWidget(parent)
    , rows_(new QVBoxLayout(this))
{
    setObjectName(QStringLiteral("transferStrip"));
    rows_->setContentsMargins(0, 2, 0, 2);
    rows_->setSpacing(2);
    setVisible(false);
}

void TransferStrip::setTransfers(const QList<FileTransfer>& transfers)
{
    while (QLayoutItem* item = rows_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const FileTransfer& transfer : transfers) {
        auto* row = new QWidget(this);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        const QString direction = transfer.incoming ? QStringLiteral("From %1:").arg(transfer.handle)
                                                    : QStringLiteral("To %1:").arg(transfer.handle);
        // The sizes go in the bar, so that a narrow window cuts only the end of a long name.
        auto* label = new QLabel(QStringLiteral("%1 %2").arg(direction, transfer.name), row);
        label->setTextFormat(Qt::PlainText);
        label->setMinimumWidth(0);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        const QString sizes = QStringLiteral("%1 of %2").arg(byteSize(transfer.done), byteSize(transfer.size));
        label->setToolTip(QStringLiteral("%1 (%2)").arg(transfer.path.isEmpty() ? transfer.name : transfer.path, sizes));
        auto* bar = new QProgressBar(row);
        bar->setRange(0, 1000);
        bar->setValue(transfer.size > 0 ? int(transfer.done * 1000 / transfer.size) : 0);
        bar->setMaximumWidth(140);
        bar->setFormat(QStringLiteral("%p% of %1").arg(byteSize(transfer.size)));
        bar->setToolTip(sizes);
        auto* cancel = new QPushButton(QStringLiteral("Cancel"), row);
        cancel->setObjectName(QStringLiteral("cancelTransfer%1").arg(transfer.id));
        const uint32_t id = transfer.id;
        connect(cancel, &QPushButton::clicked, this, [this, id] { emit cancelRequested(id); });
        layout->addWidget(label, 1);
        layout->addWidget(bar);
        layout->addWidget(cancel);
        rows_->addWidget(row);
    }
    setVisible(!transfers.isEmpty());
}

} // namespace cfb::client

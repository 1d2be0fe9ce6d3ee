#include "chat/HistorySearchDialog.h"

#include "chat/ChatHistory.h"
#include "chat/LineTimes.h"
#include "history/HistoryLine.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace cfb::client {
namespace {

constexpr int TypingPauseMs = 200;

} // namespace

HistorySearchDialog::HistorySearchDialog(ChatHistory& history, QWidget* parent)
    : QDialog(parent)
    , history_(history)
{
    setObjectName(QStringLiteral("dlgSearchHistory"));
    setWindowTitle(QStringLiteral("Confabo - Search History"));
    auto* layout = new QVBoxLayout(this);
    txtSearch_ = new QLineEdit(this);
    txtSearch_->setObjectName(QStringLiteral("txtSearch"));
    txtSearch_->setPlaceholderText(QStringLiteral("Words to find in all conversations"));
    txtSearch_->setClearButtonEnabled(true);
    lstResults_ = new QListWidget(this);
    lstResults_->setObjectName(QStringLiteral("lstResults"));
    lstResults_->setWordWrap(true);
    lstResults_->setUniformItemSizes(false);
    lblFound_ = new QLabel(this);
    lblFound_->setObjectName(QStringLiteral("lblFound"));
    lblFound_->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(txtSearch_);
    layout->addWidget(lstResults_, 1);
    layout->addWidget(lblFound_);
    layout->addWidget(buttons);
    resize(520, 420);

    typing_.setSingleShot(true);
    typing_.setInterval(TypingPauseMs);
    connect(&typing_, &QTimer::timeout, this, &HistorySearchDialog::search);
    connect(txtSearch_, &QLineEdit::textEdited, &typing_, qOverload<>(&QTimer::start));
    connect(txtSearch_, &QLineEdit::returnPressed, this, &HistorySearchDialog::search);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Enter searches; it does not close the dialog.
    buttons->button(QDialogButtonBox::Close)->setAutoDefault(false);
    const QString problem = history_.problem();
    if (!problem.isEmpty()) {
        lblFound_->setText(problem);
        txtSearch_->setEnabled(false);
    }
}

HistorySearchDialog* HistorySearchDialog::open(ChatHistory& history, QWidget* parent)
{
    auto* dialog = new HistorySearchDialog(history, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->show();
    return dialog;
}

QString HistorySearchDialog::resultText(const HistoryLine& line)
{
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(line.timeMs);
    QString text = line.text.left(ShownCharacters);
    if (text.size() < line.text.size())
        text += QChar(0x2026);
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    QString result = QStringLiteral("%1 %2  %3: %4")
                         .arg(LineTimes::dayName(when.date()), LineTimes::timeText(when), line.sender, text);
    if (line.outgoing)
        result += QStringLiteral(" (to %1)").arg(line.buddy);
    return result;
}

void HistorySearchDialog::search()
{
    typing_.stop();
    lstResults_->clear();
    const QString typed = txtSearch_->text().trimmed();
    if (typed.isEmpty()) {
        lblFound_->clear();
        return;
    }
    const QList<HistoryLine> found = history_.search(typed, MostShown);
    for (const HistoryLine& line : found)
        lstResults_->addItem(resultText(line));
    lblFound_->setText(found.isEmpty()            ? QStringLiteral("Nothing found.")
            : found.size() == 1                   ? QStringLiteral("1 line found.")
            : found.size() < MostShown            ? QStringLiteral("%1 lines found.").arg(found.size())
                                                  : QStringLiteral("The newest %1 lines found.").arg(found.size()));
}

} // namespace cfb::client

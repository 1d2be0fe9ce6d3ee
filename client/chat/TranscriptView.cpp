#include "chat/TranscriptView.h"

#include "session/ClientSession.h"

#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace cfb::client {
namespace {

const QString LineBreak = QStringLiteral("\r\n");
const QColor OwnColour(255, 0, 0);
const QColor OthersColour(0, 0, 255);
const QColor NoticeColour(96, 96, 96);

} // namespace

TranscriptView::TranscriptView(QTextEdit* box, const ClientSession& session, QObject* parent)
    : TranscriptView(box, nullptr, &session, parent)
{
}

TranscriptView::TranscriptView(QPlainTextEdit* box, const ClientSession& session, QObject* parent)
    : TranscriptView(nullptr, box, &session, parent)
{
}

TranscriptView::TranscriptView(
    QTextEdit* richBox, QPlainTextEdit* plainBox, const ClientSession* session, QObject* parent)
    : QObject(parent)
    , richBox_(richBox)
    , plainBox_(plainBox)
    , session_(session)
{
    // Lines that left the box must not live on in its undo history.
    if (QTextDocument* shown = document())
        shown->setUndoRedoEnabled(false);
}

QTextDocument* TranscriptView::document() const
{
    if (richBox_)
        return richBox_->document();
    return plainBox_ ? plainBox_->document() : nullptr;
}

void TranscriptView::follow(ChatTranscript* transcript)
{
    if (transcript == transcript_ && transcript)
        return;
    for (const QMetaObject::Connection& connection : std::as_const(connections_))
        disconnect(connection);
    connections_.clear();
    transcript_ = transcript;
    if (transcript) {
        connections_ << connect(transcript, &ChatTranscript::lineAdded, this, &TranscriptView::append)
                     << connect(transcript, &ChatTranscript::cleared, this, &TranscriptView::show);
    }
    show();
}

// Draws the followed transcript's newest lines, as many as the box keeps.
void TranscriptView::show()
{
    QTextDocument* shown = document();
    if (!shown)
        return;
    shown->clear();
    if (!transcript_)
        return;
    const QList<ChatTranscript::Line>& lines = transcript_->lines();
    qsizetype first = lines.size();
    qsizetype characters = 0;
    while (first > 0 && lines.size() - first < MaxBlocks) {
        const ChatTranscript::Line& line = lines[first - 1];
        characters += line.text().size() + 1;
        if (characters > MaxCharacters && first < lines.size())
            break;
        --first;
    }
    // One edit for all of them: the box lays them out once.
    QTextCursor batch(shown);
    batch.beginEditBlock();
    for (qsizetype i = first; i < lines.size(); ++i)
        addLine(lines[i]);
    batch.endEditBlock();
    trim();
    scrollToEnd();
}

void TranscriptView::append(const ChatTranscript::Line& line)
{
    addLine(line);
    trim();
    scrollToEnd();
}

// "<handle>: <message>" (a notice's text alone) at the end of the box. Each piece between the
// transcript's line breaks is coloured by its beginning, so a line reads as it would in the
// transcript's text and the user's own lines have one colour in both boxes; a notice is coloured
// as one. The plain box gives each line a block of its own, the first too.
void TranscriptView::addLine(const ChatTranscript::Line& added)
{
    QTextDocument* shown = document();
    QTextCursor cursor(shown);
    cursor.movePosition(QTextCursor::End);
    // One edit: the box lays the line out once, when it is complete.
    cursor.beginEditBlock();
    const auto done = qScopeGuard([&cursor] { cursor.endEditBlock(); });
    const QString line = added.text();
    const QString own = session_->handle() + QLatin1Char(':');
    QTextCharFormat format;
    const QStringList pieces = richBox_ ? line.split(LineBreak) : QStringList{line};
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (i > 0 || !shown->isEmpty() || !richBox_)
            cursor.insertBlock();
        format.setForeground(added.notice ? NoticeColour : pieces[i].startsWith(own) ? OwnColour : OthersColour);
        format.setFontItalic(added.notice);
        cursor.insertText(pieces[i], format);
    }
}

// The oldest lines leave the box, all in one cut, until it is within its bounds; the newest line
// always stays.
void TranscriptView::trim()
{
    QTextDocument* shown = document();
    int blocks = shown->blockCount();
    int characters = shown->characterCount();
    QTextBlock kept = shown->firstBlock();
    while (kept.next().isValid() && (blocks > MaxBlocks || characters > MaxCharacters)) {
        characters -= kept.length();
        --blocks;
        kept = kept.next();
    }
    if (kept == shown->firstBlock())
        return;
    QTextCursor oldest(shown);
    oldest.beginEditBlock();
    oldest.setPosition(kept.position(), QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
    oldest.endEditBlock();
}

void TranscriptView::scrollToEnd()
{
    if (richBox_) {
        richBox_->moveCursor(QTextCursor::End);
        richBox_->ensureCursorVisible();
    } else if (plainBox_) {
        plainBox_->moveCursor(QTextCursor::End);
        plainBox_->verticalScrollBar()->setValue(plainBox_->verticalScrollBar()->maximum());
    }
}

} // namespace cfb::client

#include "chat/TranscriptView.h"

#include "chat/DeliveryMarks.h"
#include "chat/LineTimes.h"
#include "chat/PictureViewer.h"
#include "session/ClientSession.h"

#include <QAbstractTextDocumentLayout>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextImageFormat>
#include <QUrl>

namespace cfb::client {
namespace {

const QString LineBreak = QStringLiteral("\r\n");
const QColor OwnColour(255, 0, 0);
const QColor OthersColour(0, 0, 255);
const QColor NoticeColour(96, 96, 96);
const QString PictureScheme = QStringLiteral("confabo-picture");

// Which transcript line a block of the box belongs to, and whether it begins or ends it.
class LineIndex : public QTextBlockUserData {
public:
    LineIndex(qsizetype index, bool first, bool last)
        : index(index)
        , first(first)
        , last(last)
    {
    }
    const qsizetype index;
    const bool first;
    const bool last;
};

QUrl pictureName(qsizetype index)
{
    return QUrl(PictureScheme + QLatin1Char(':') + QString::number(index));
}

} // namespace

TranscriptView::TranscriptView(QTextEdit* box, const ClientSession& session, QObject* parent)
    : TranscriptView(box, &session, false, parent)
{
}

TranscriptView::TranscriptView(QTextEdit* box, const ClientSession& session, Detached, QObject* parent)
    : TranscriptView(box, &session, true, parent)
{
}

TranscriptView::TranscriptView(QTextEdit* box, const ClientSession* session, bool detached, QObject* parent)
    : QObject(parent)
    , box_(box)
    , session_(session)
    , detached_(detached)
{
    if (!box)
        return;
    // Lines that left the box must not live on in its undo history.
    box->document()->setUndoRedoEnabled(false);
    marks_ = new DeliveryMarks(
        *box, [this](const QTextBlock& block) { return lineOf(block); }, this);
    times_ = new LineTimes(
        *box,
        [this](const QTextBlock& block) {
            const auto* data = static_cast<const LineIndex*>(block.userData());
            return LineTimes::Place{lineAt(data ? data->index : -1), data && data->first};
        },
        this);
    box->viewport()->installEventFilter(this);
}

QTextDocument* TranscriptView::document() const
{
    return box_ ? box_->document() : nullptr;
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
                     << connect(transcript, &ChatTranscript::lineChanged, this, [this] { marks_->update(); })
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
    lastDay_ = QDate();
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
        addLine(lines[i], i);
    batch.endEditBlock();
    trim();
    scrollToEnd();
}

void TranscriptView::append(const ChatTranscript::Line& line)
{
    if (!transcript_ || !document())
        return;
    addLine(line, transcript_->lines().size() - 1);
    trim();
    scrollToEnd();
}

// "<handle>: <message>" (a notice's text alone) at the end of the box. Each piece between the
// transcript's line breaks is coloured by its beginning, so a line reads as it would in the
// transcript's text and the user's own lines have one colour in both boxes; a notice is coloured
// as one. The detached box gives each line one block, the first too. A picture is
// "<handle>, <time>:" with the thumbnail under it. Every block keeps room on its left for the
// line's time, and the first line of a day room above it for the day's band (LineTimes).
void TranscriptView::addLine(const ChatTranscript::Line& added, qsizetype index)
{
    QTextDocument* shown = document();
    QTextCursor cursor(shown);
    cursor.movePosition(QTextCursor::End);
    // One edit: the box lays the line out once, when it is complete.
    cursor.beginEditBlock();
    const QDate day = added.when.date();
    const bool newDay = shown->isEmpty() || day != lastDay_;
    lastDay_ = day;
    bool first = true;
    // Each block of the line: its place in the line and its margins.
    const auto placeBlock = [&](bool last) {
        QTextBlockFormat block;
        block.setLeftMargin(LineTimes::timeColumn(box_->font()));
        block.setTopMargin(first && newDay ? LineTimes::dayBand(box_->font()) : 0);
        cursor.setBlockFormat(block);
        cursor.block().setUserData(new LineIndex(index, first, last));
        first = false;
    };
    const auto newBlock = [&] {
        placeBlock(false);
        cursor.insertBlock();
    };
    const auto done = qScopeGuard([&] {
        placeBlock(true);
        cursor.endEditBlock();
    });
    const QString ownHandle = session_ ? session_->handle() : QString();
    QTextCharFormat format;
    if (added.isPicture()) {
        if (detached_ || !shown->isEmpty())
            cursor.insertBlock();
        format.setForeground(added.handle == ownHandle ? OwnColour : OthersColour);
        cursor.insertText(
            QStringLiteral("%1, %2:").arg(added.handle, QLocale().toString(added.when.time(), QLocale::ShortFormat)),
            format);
        newBlock();
        const QImage thumbnail = added.picture.width() > ThumbnailWidth || added.picture.height() > ThumbnailHeight
            ? added.picture.scaled(ThumbnailWidth, ThumbnailHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation)
            : added.picture;
        shown->addResource(QTextDocument::ImageResource, pictureName(index), thumbnail);
        QTextImageFormat image;
        image.setName(pictureName(index).toString());
        image.setWidth(thumbnail.width());
        image.setHeight(thumbnail.height());
        image.setToolTip(QStringLiteral("Click to see the picture at its own size"));
        cursor.insertImage(image);
        return;
    }
    const QString line = added.text();
    const QString ownStart = ownHandle + QLatin1Char(':');
    const QStringList pieces = detached_ ? QStringList {line} : line.split(LineBreak);
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            newBlock();
        else if (!shown->isEmpty() || detached_)
            cursor.insertBlock();
        format.setForeground(added.notice ? NoticeColour : pieces[i].startsWith(ownStart) ? OwnColour : OthersColour);
        format.setFontItalic(added.notice);
        cursor.insertText(pieces[i], format);
    }
}

const ChatTranscript::Line* TranscriptView::lineAt(qsizetype index) const
{
    if (!transcript_ || index < 0 || index >= transcript_->lines().size())
        return nullptr;
    return &transcript_->lines()[index];
}

const ChatTranscript::Line* TranscriptView::lineOf(const QTextBlock& block) const
{
    const auto* data = static_cast<const LineIndex*>(block.userData());
    return data && data->last ? lineAt(data->index) : nullptr;
}

const ChatTranscript::Line* TranscriptView::pictureAt(const QPoint& pos) const
{
    if (!box_ || !transcript_)
        return nullptr;
    const QPointF inDocument = pos + QPointF(box_->horizontalScrollBar()->value(), box_->verticalScrollBar()->value());
    const QUrl name(document()->documentLayout()->imageAt(inDocument));
    if (name.scheme() != PictureScheme)
        return nullptr;
    bool ok = false;
    const qsizetype index = name.path().toLongLong(&ok);
    if (!ok || index < 0 || index >= transcript_->lines().size() || !transcript_->lines()[index].isPicture())
        return nullptr;
    return &transcript_->lines()[index];
}

bool TranscriptView::pictureMenu(const QPoint& pos, const QPoint& global)
{
    const ChatTranscript::Line* line = pictureAt(pos);
    if (!line)
        return false;
    QWidget* window = box_->window();
    const ChatTranscript::Line picture = *line; // the transcript may change while the menu is open
    auto* menu = new QMenu(box_);
    menu->setObjectName(QStringLiteral("mnuPictureLine"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("&Open Picture"), this,
        [=] { PictureViewer::open(picture.picture, picture.handle, picture.when, window); });
    menu->addAction(QStringLiteral("Save Picture &As..."), this,
        [=] { PictureViewer::saveAs(window, picture.picture, picture.handle, picture.when); });
    menu->popup(global);
    return true;
}

bool TranscriptView::eventFilter(QObject* watched, QEvent* event)
{
    if (!box_ || watched != box_->viewport())
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::ContextMenu) {
        const auto* menu = static_cast<QContextMenuEvent*>(event);
        if (pictureMenu(menu->pos(), menu->globalPos()))
            return true;
    } else if (event->type() == QEvent::MouseButtonRelease) {
        const auto* click = static_cast<QMouseEvent*>(event);
        if (click->button() == Qt::LeftButton && !box_->textCursor().hasSelection())
            if (const ChatTranscript::Line* line = pictureAt(click->position().toPoint())) {
                PictureViewer::open(line->picture, line->handle, line->when, box_->window());
                return true;
            }
    }
    return QObject::eventFilter(watched, event);
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
    // The line now at the top begins the box: its day is named above it.
    QTextBlockFormat top = shown->firstBlock().blockFormat();
    top.setTopMargin(LineTimes::dayBand(box_->font()));
    oldest.setBlockFormat(top);
    oldest.endEditBlock();
}

void TranscriptView::scrollToEnd()
{
    if (!box_)
        return;
    box_->moveCursor(QTextCursor::End);
    box_->ensureCursorVisible();
    box_->verticalScrollBar()->setValue(box_->verticalScrollBar()->maximum());
}

} // namespace cfb::client

#pragma once

#include <QUrl>
#include <QWidget>

class QTextBrowser;

namespace cfb::client {

// The help window: the program's HTML help pages (Qt resources under :/help) in a QTextBrowser,
// with Back, Forward and Contents. One window serves every request.
class HelpWindow : public QWidget {
    Q_OBJECT
public:
    // The page a help context opens; 0 and unknown contexts open the default topic.
    static QUrl topicUrl(int context);
    // Shows the window (created on first use, as a window of owner) at the context's page and
    // brings it to the front.
    static HelpWindow* showTopic(int context, QWidget* owner);
    // The window while it exists.
    static HelpWindow* current();

    QTextBrowser* browser() const { return browser_; }

private:
    explicit HelpWindow(QWidget* owner);
    void openLink(const QUrl& url);

    QTextBrowser* browser_;
};

} // namespace cfb::client

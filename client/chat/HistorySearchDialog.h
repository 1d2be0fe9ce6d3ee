#pragma once

#include <QDialog>
#include <QTimer>

class QLabel;
class QLineEdit;
class QListWidget;

namespace cfb {
struct HistoryLine;
}

namespace cfb::client {

class ChatHistory;

// "Search History": finds lines of every kept conversation as the user types (every word, each as
// the beginning of a word), newest first, each with its day, time and conversation.
class HistorySearchDialog : public QDialog {
public:
    static constexpr int MostShown = 200;
    // The longest piece of a line a result shows.
    static constexpr int ShownCharacters = 300;

    HistorySearchDialog(ChatHistory& history, QWidget* parent = nullptr);

    // Opens the dialog (window-modal, without blocking) over parent; it deletes itself when closed.
    static HistorySearchDialog* open(ChatHistory& history, QWidget* parent);

    // Searches for what the field holds now.
    void search();
    // How a result reads: "<day> <time>  <sender>: <text>", and " (to <buddy>)" for the user's own.
    static QString resultText(const cfb::HistoryLine& line);

private:
    ChatHistory& history_;
    QLineEdit* txtSearch_ = nullptr;
    QListWidget* lstResults_ = nullptr;
    QLabel* lblFound_ = nullptr;
    QTimer typing_;
};

} // namespace cfb::client

#pragma once

// Answers the program's own questions (frmPopup) for a test while it lives.
#include "common/frmPopup.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace startup_test {

// Calls answer for every question that is open and not answered yet, from inside its wait (a
// 10 ms timer looks); answer clicks a button or stop()s the answerer.
class PopupAnswerer {
public:
    explicit PopupAnswerer(std::function<void(cfb::client::frmPopup*)> answer)
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this, answer = std::move(answer)] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* popup = qobject_cast<cfb::client::frmPopup*>(w);
                    popup && popup->isVisible() && popup->MsgBoxResult() == 0 && timer_.isActive())
                    answer(popup);
        });
        timer_.start();
    }
    void stop() { timer_.stop(); }
    // The object a watch that ends with this answerer can hang from.
    QObject* scope() { return &timer_; }

    // Clicks the button of that name ("cmdOK" is Yes, "cmdNo" No).
    static void click(cfb::client::frmPopup* popup, const char* button)
    {
        if (auto* pressed = popup->findChild<QPushButton*>(button))
            pressed->click();
    }

private:
    QTimer timer_;
};

} // namespace startup_test

#pragma once

#include <QObject>

namespace cfb::client {

// Lets a field take only the digits, backspace and the full stop as typed characters; any other
// character beeps and is dropped. Keys that type nothing (arrows, Tab, Return, Escape) pass.
class DigitKeyFilter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace cfb::client

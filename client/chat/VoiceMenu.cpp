#include "chat/VoiceMenu.h"

#include "messaging/ConfaboError.h"
#include "platform/Settings.h"
#include "speech/SpeechEngine.h"

#include <QAction>
#include <QMenu>

namespace cfb::client {

VoiceMenu::VoiceMenu(QMenu* menu, QObject* parent)
    : QObject(parent)
{
    for (int i = 1; i <= Items; ++i) {
        QAction* item = menu->addAction(QString());
        item->setObjectName(QStringLiteral("mnuVoice%1").arg(i));
        item->setCheckable(true);
        item->setVisible(false);
        connect(item, &QAction::triggered, this, [this, i] {
            // The item's own toggle is undone: the choice checks it once the voice is in use.
            check(0);
            emit chosen(i);
        });
        items_.append(item);
    }
}

void VoiceMenu::load(SpeechEngine* speech)
{
    int named = 0;
    if (speech) {
        speech->setSwitchFlag(false);
        for (int i = 1; i <= Items; ++i) {
            const QString name = speech->voiceName(i);
            if (name.isEmpty())
                break;
            items_[i - 1]->setText(name);
            items_[i - 1]->setVisible(true);
            named = i;
        }
    }
    for (int i = named + 1; i <= Items; ++i)
        items_[i - 1]->setVisible(false);
    check(speech ? speech->currentVoice() : 0);
}

void VoiceMenu::select(SpeechEngine* speech, int index, const QString& buddyHandle)
{
    check(0);
    if (speech) {
        speech->setSwitchFlag(true);
        speech->setCurrentVoice(index);
        speech->setSwitchFlag(false);
    }
    if (buddyHandle.isEmpty())
        throw ConfaboError(ConfaboError::ObjectNotSet, QStringLiteral("no buddy is selected to keep the voice for"));
    // Every message shown selects its buddy's voice again: the store is written (a slow file
    // replacement) only when the value changes.
    const QString value = QString::number(index);
    if (Settings::Speaker.read(buddyHandle) != value)
        Settings::Speaker.write(buddyHandle, value);
    check(index);
}

int VoiceMenu::speakerOf(const QString& buddyHandle)
{
    bool ok = false;
    const int index = Settings::Speaker.read(buddyHandle).trimmed().toInt(&ok);
    return ok && index >= 1 ? index : 1;
}

QAction* VoiceMenu::item(int index) const
{
    return index >= 1 && index <= items_.size() ? items_[index - 1] : nullptr;
}

void VoiceMenu::check(int index)
{
    for (int i = 1; i <= items_.size(); ++i)
        items_[i - 1]->setChecked(i == index);
}

} // namespace cfb::client

#include "chat/VoiceMenu.h"

#include "messaging/ConfaboError.h"
#include "platform/Settings.h"
#include "speech/SpeechEngine.h"

#include <QAction>
#include <QHash>
#include <QMenu>

namespace cfb::client {

namespace {

const QString OtherVoices = QStringLiteral("Other voices");

QString titleFor(const QString& buddyHandle)
{
    return buddyHandle.isEmpty() ? QStringLiteral("Voices") : QStringLiteral("Voice for %1").arg(buddyHandle);
}

} // namespace

VoiceMenu::VoiceMenu(QMenu* menu, QObject* parent)
    : QObject(parent)
    , menu_(menu)
{
    // The title heads the menu, above whatever the window put there first.
    QAction* first = menu->actions().value(0);
    title_ = new QAction(titleFor(QString()), menu);
    title_->setObjectName(QStringLiteral("mnuVoiceTitle"));
    title_->setEnabled(false);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    menu->insertAction(first, title_);
    menu->insertSeparator(first);
    for (int i = 1; i <= Items; ++i) {
        // Each item moves into its language's submenu once load() knows the languages.
        QAction* item = new QAction(this);
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
    for (QMenu* group : std::as_const(groups_)) {
        for (QAction* item : std::as_const(items_))
            group->removeAction(item);
        delete group;
    }
    groups_.clear();

    // The languages in the order their first voice comes, each with its voices in order.
    QStringList languages;
    QHash<QString, QList<QAction*>> byLanguage;
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
            QString language = speech->voiceLanguage(i).trimmed();
            if (language.isEmpty())
                language = OtherVoices;
            if (!byLanguage.contains(language))
                languages << language;
            byLanguage[language] << items_[i - 1];
        }
    }
    for (int i = named + 1; i <= Items; ++i)
        items_[i - 1]->setVisible(false);

    for (const QString& language : std::as_const(languages)) {
        const QList<QAction*>& voices = byLanguage[language];
        const qsizetype parts = (voices.size() + ItemsPerGroup - 1) / ItemsPerGroup;
        for (qsizetype part = 0; part < parts; ++part) {
            const QString title = parts == 1 ? language : QStringLiteral("%1 (%2)").arg(language).arg(part + 1);
            auto* group = new QMenu(title, menu_);
            group->setObjectName(QStringLiteral("mnuVoiceGroup%1").arg(groups_.size() + 1));
            group->addActions(voices.mid(part * ItemsPerGroup, ItemsPerGroup));
            menu_->addMenu(group);
            groups_ << group;
        }
    }
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
    title_->setText(titleFor(buddyHandle));
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

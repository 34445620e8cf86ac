#include "ScriptedPrompt.h"

#include <QObject>
#include <QStringList>

ScriptedPrompt::ScriptedPrompt()
{
    setPrompt(this);
}

ScriptedPrompt::~ScriptedPrompt()
{
    setPrompt(nullptr);
}

PromptButton ScriptedPrompt::message(MsgKind kind, const QString &text, PromptButtons buttons)
{
    return ask(kind, text, buttons, PromptButton::None);
}

PromptButton ScriptedPrompt::ask(MsgKind kind, const QString &text, PromptButtons buttons, PromptButton unattended)
{
    asked.append({kind, text, buttons, unattended});
    if (whileAsking)
        whileAsking();
    return answers.isEmpty() ? defaultAnswer : answers.takeFirst();
}

bool ScriptedPrompt::input(const QString &caption, const QString &label, QString &value)
{
    inputCaptions.append(caption + QLatin1Char('|') + label + QLatin1Char('|') + value);
    if (whileAsking)
        whileAsking();
    if (inputs.isEmpty())
        return false;
    const QString answer = inputs.takeFirst();
    if (answer.isNull())
        return false;
    value = answer;
    return true;
}

int ScriptedPrompt::runModal(QObject *dialog, const std::function<int()> &)
{
    const QString name = dialog ? dialog->objectName() : QString();
    const QString cls = dialog ? QString::fromLatin1(dialog->metaObject()->className()) : QString();
    dialogsShown.append(name.isEmpty() ? cls : name);
    if (dialogs.contains(name))
        return dialogs.value(name)(dialog);
    if (dialogs.contains(cls))
        return dialogs.value(cls)(dialog);
    return defaultDialogResult;
}

QStringList ScriptedPrompt::texts() const
{
    QStringList out;
    for (const Asked &a : asked)
        out << a.text;
    return out;
}

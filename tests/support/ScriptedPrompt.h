#pragma once
// A prompt that answers from a script and remembers what it was asked, so
// tests can check the exact texts, kinds and buttons of every question.

#include "core/Prompt.h"

#include <QList>
#include <QMap>
#include <QString>
#include <functional>

class ScriptedPrompt : public IPrompt {
public:
    struct Asked {
        MsgKind kind;
        QString text;
        PromptButtons buttons;
        PromptButton unattended = PromptButton::None;  // the answer a question states for unattended runs
    };

    ScriptedPrompt();   // installs itself
    ~ScriptedPrompt() override;  // restores the default prompt

    // Answers given to message boxes in order; when the queue is empty the
    // default answer is used (PromptButton::Ok unless changed).
    QList<PromptButton> answers;
    PromptButton defaultAnswer = PromptButton::Ok;

    // Answers given to input boxes in order: a null QString cancels.
    QList<QString> inputs;

    // Handlers for modal dialogs by object name or class name. Without one the
    // dialog is answered with `defaultDialogResult` and not shown.
    QMap<QString, std::function<int(QObject *)>> dialogs;
    int defaultDialogResult = 0;

    // Runs at every message and input box while it is open (what the window
    // shows behind the question).
    std::function<void()> whileAsking;

    QList<Asked> asked;
    QList<QString> inputCaptions;
    QList<QString> dialogsShown;
    int beeps = 0;

    PromptButton message(MsgKind kind, const QString &text, PromptButtons buttons) override;
    PromptButton ask(MsgKind kind, const QString &text, PromptButtons buttons, PromptButton unattended) override;
    bool input(const QString &caption, const QString &label, QString &value) override;
    int runModal(QObject *dialog, const std::function<int()> &exec) override;
    void beep() override { ++beeps; }

    QStringList texts() const;
};

// Hands every call on to the prompt in force when it is made (activePrompt()):
// for fixtures that build the windows and the engine, as the program does,
// before a test installs its scripted prompt.
class PromptInForce : public IPrompt {
public:
    PromptButton message(MsgKind kind, const QString &text, PromptButtons buttons) override
    {
        return activePrompt().message(kind, text, buttons);
    }
    PromptButton ask(MsgKind kind, const QString &text, PromptButtons buttons, PromptButton unattended) override
    {
        return activePrompt().ask(kind, text, buttons, unattended);
    }
    bool input(const QString &caption, const QString &label, QString &value) override
    {
        return activePrompt().input(caption, label, value);
    }
    int runModal(QObject *dialog, const std::function<int()> &exec) override
    {
        return activePrompt().runModal(dialog, exec);
    }
    void beep() override { activePrompt().beep(); }
};

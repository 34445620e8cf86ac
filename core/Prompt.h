#pragma once
// Everything that asks the operator something goes through this interface:
// message boxes, input boxes and modal dialogs. The program installs the
// widget implementation at start; tests install a scripted one.

#include "core/Result.h"

#include <QFlags>
#include <QString>
#include <functional>

class QObject;

enum class MsgKind { Information, Warning, Error, Question };

// The buttons of a message box; a set of them is a PromptButtons.
enum class PromptButton : int {
    None = 0,
    Ok = 0x1,
    Cancel = 0x2,
    Yes = 0x4,
    No = 0x8,
    Abort = 0x10,
    Ignore = 0x20,
};
Q_DECLARE_FLAGS(PromptButtons, PromptButton)
Q_DECLARE_OPERATORS_FOR_FLAGS(PromptButtons)

class IPrompt {
public:
    virtual ~IPrompt() = default;

    // A notice: a message box of the given kind with the given buttons (a
    // set of PromptButton) whose answer changes nothing; returns the
    // button pressed (PromptButton::Cancel when closed).
    virtual PromptButton message(MsgKind kind, const QString &text, PromptButtons buttons) = 0;

    // A question: a message box whose answer decides what happens next.
    // `unattended` is the answer that keeps the data safe and the program
    // going (one of `buttons`); a run nobody watches takes it without waiting.
    // Every choice offered to the operator goes through here, each caller
    // stating its own unattended answer.
    virtual PromptButton ask(MsgKind kind, const QString &text, PromptButtons buttons, PromptButton unattended)
    {
        (void)unattended;
        return message(kind, text, buttons);
    }

    // An input box. Returns false when the operator cancelled; value holds the
    // start text on entry and the entered text on return. Unattended runs
    // cancel it: whatever the value was for, nothing changes.
    virtual bool input(const QString &caption, const QString &label, QString &value) = 0;

    // Shows a modal dialog: exec runs it the ordinary way and returns its
    // result code. A scripted implementation may instead fill the dialog
    // (found by its object name or class name) and return a result itself.
    // Unattended runs do not show it and return 0 (rejected), so a dialog
    // must change nothing unless it is accepted.
    virtual int runModal(QObject *dialog, const std::function<int()> &exec) = 0;

    // The system beep that precedes a message about a failed device write.
    virtual void beep() {}
};

// The prompt in force. Without an installed one, messages go to standard error,
// notices are answered with Cancel where offered, else OK, questions with
// their unattended answer; inputs and dialogs are cancelled.
IPrompt &activePrompt();
// The prompt of a run nobody watches, as just described: what an object that
// was handed no prompt of its own asks and tells.
IPrompt &unattendedPrompt();
void setPrompt(IPrompt *prompt);  // nullptr restores the default

// Shows an operation's error in a message box with OK: ErrorKind::Invalid as
// a warning, Conflict as information, every other kind as an error. An error
// without text shows nothing.
void tell(IPrompt &prompt, const Error &error);

// A sink for an operation's messages that shows each one through `prompt`
// (see tell()); the prompt must outlive the operation.
inline auto toldBy(IPrompt &prompt)
{
    return [&prompt](const Error &error) { tell(prompt, error); };
}

#pragma once
// The prompt of the running program: message boxes with the kind's icon and
// exactly the buttons asked for, input boxes, and modal dialogs run by their
// own exec.
//
// A run nobody can see (Qt's offscreen platform, or RUVO_UNATTENDED=1 in the
// environment) has no operator to answer: messages then go to standard error,
// each question takes the unattended answer its caller stated, notices are
// answered with Cancel where offered, else OK; inputs and dialogs are
// cancelled.

#include "core/Prompt.h"

class QTranslator;
class QWidget;

class WidgetPrompt final : public IPrompt {
public:
    explicit WidgetPrompt(QWidget *parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget *parent) { m_parent = parent; }

    PromptButton message(MsgKind kind, const QString &text, PromptButtons buttons) override;
    PromptButton ask(MsgKind kind, const QString &text, PromptButtons buttons, PromptButton unattended) override;
    bool input(const QString &caption, const QString &label, QString &value) override;
    int runModal(QObject *dialog, const std::function<int()> &exec) override;
    void beep() override;

    static bool isUnattendedRun();

    // Loads Qt's own Russian texts (qtbase_ru from Qt's translations
    // directory) into the application, so every standard button and dialog
    // text is Russian. Returns the installed translator (owned by the
    // application), nullptr when the file cannot be loaded.
    static QTranslator *installStandardTexts();

private:
    PromptButton show(MsgKind kind, const QString &text, PromptButtons buttons);

    QWidget *m_parent = nullptr;
};

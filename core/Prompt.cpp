#include "Prompt.h"

#include <QTextStream>
#include <cstdio>

namespace {

class StderrPrompt final : public IPrompt {
public:
    PromptButton message(MsgKind, const QString &text, PromptButtons buttons) override
    {
        QTextStream(stderr) << text << Qt::endl;
        return buttons.testFlag(PromptButton::Cancel) ? PromptButton::Cancel : PromptButton::Ok;
    }
    PromptButton ask(MsgKind, const QString &text, PromptButtons, PromptButton unattended) override
    {
        QTextStream(stderr) << text << Qt::endl;
        return unattended;
    }
    bool input(const QString &, const QString &, QString &) override { return false; }
    int runModal(QObject *, const std::function<int()> &) override { return 0; }
};

StderrPrompt g_default;
IPrompt *g_prompt = nullptr;

} // namespace

IPrompt &activePrompt()
{
    return g_prompt ? *g_prompt : g_default;
}

IPrompt &unattendedPrompt()
{
    return g_default;
}

void setPrompt(IPrompt *prompt)
{
    g_prompt = prompt;
}

void tell(IPrompt &prompt, const Error &error)
{
    if (error.text.isEmpty())
        return;
    MsgKind kind = MsgKind::Error;
    if (error.kind == ErrorKind::Invalid)
        kind = MsgKind::Warning;
    else if (error.kind == ErrorKind::Conflict)
        kind = MsgKind::Information;
    prompt.message(kind, error.text, PromptButton::Ok);
}

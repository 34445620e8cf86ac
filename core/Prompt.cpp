#include "Prompt.h"

#include <QTextStream>
#include <cstdio>

namespace {

class StderrPrompt final : public IPrompt {
public:
    int message(MsgKind, const QString &text, int buttons) override
    {
        QTextStream(stderr) << text << Qt::endl;
        return (buttons & BtnCancel) ? BtnCancel : BtnOk;
    }
    int ask(MsgKind, const QString &text, int, int unattended) override
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

void setPrompt(IPrompt *prompt)
{
    g_prompt = prompt;
}

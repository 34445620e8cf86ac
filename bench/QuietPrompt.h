#pragma once
// The benchmarks' prompt: messages go to standard error and are answered
// Ok, questions are declined, so a run never waits for anyone.

#include "core/Prompt.h"

#include <QTextStream>

class QuietPrompt : public IPrompt {
public:
    PromptButton message(MsgKind, const QString &text, PromptButtons) override
    {
        QTextStream(stderr) << "message: " << text << Qt::endl;
        return PromptButton::Ok;
    }
    bool input(const QString &, const QString &, QString &) override { return false; }
    int runModal(QObject *, const std::function<int()> &) override { return 0; }
};

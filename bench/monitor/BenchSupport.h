#pragma once
// Helpers of the synchronisation benchmarks: a database in a temporary
// program directory and large tables filled by SQL.

#include "core/Prompt.h"
#include "records/DataModule.h"

#include <QElapsedTimer>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// Answers every question with OK, silently.
class SilentPrompt : public IPrompt {
public:
    PromptButton message(MsgKind, const QString &, PromptButtons buttons) override { return (buttons & PromptButton::Ok) ? PromptButton::Ok : PromptButton::Cancel; }
    bool input(const QString &, const QString &, QString &) override { return false; }
    int runModal(QObject *, const std::function<int()> &) override { return 0; }
};

class BenchDatabase {
public:
    // dir: a program directory to use (kept); empty: a temporary one.
    explicit BenchDatabase(const QString &dir = QString());
    ~BenchDatabase();

    QString programDir() const { return m_programDir; }
    DataModule dm;

    // Appends `rows` readings of `dosimeters` dosimeters (IDs 1..dosimeters),
    // one a minute from 1 January 2025 on, under bus address 0x7F0000 (not the
    // simulated reader's), in one statement. Returns the milliseconds taken.
    qint64 fillMeasures(int rows, int dosimeters);
    // Appends `perDosimeter` consecutive journal periods for each dosimeter,
    // evenly over the span of the readings, the last one open.
    qint64 fillNotes(int dosimeters, int perDosimeter, int readings);
    qint64 count(DataTable &table);

private:
    std::unique_ptr<QTemporaryDir> m_temp;
    QString m_programDir;
    SilentPrompt m_prompt;
};

double toMs(qint64 ns);

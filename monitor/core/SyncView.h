#pragma once
// What the synchronisation engine shows in the main window: the status label
// (LabelInfoLastDoIt), the progress picture (ImageProgress), the state
// indicator and the heartbeat of the request thread (status panel 2). The
// main window implements it; headless runs use the null view.

#include <QString>

class ISyncView {
public:
    virtual ~ISyncView() = default;

    // LabelInfoLastDoIt := text.
    virtual void SetStatusText(const QString &text) = 0;

    // ImageProgress width := ProgressWidth(index, total, panel width);
    // (0, 0) empties the picture.
    virtual void SetProgress(int index, int total) = 0;

    // Repaints the state indicator from the engine's SyncState and applies the enable
    // rules of the service commands.
    virtual void UpdateStateIndicator() = 0;

    // One heartbeat step of the request thread on status panel 2 (see
    // NextHeartbeatText).
    virtual void PulseHeartbeat() = 0;
};

class NullSyncView : public ISyncView {
public:
    void SetStatusText(const QString &) override {}
    void SetProgress(int, int) override {}
    void UpdateStateIndicator() override {}
    void PulseHeartbeat() override {}
};

// index / total × panelWidth rounded to the nearest integer, halves to even;
// 0 when total is not positive.
inline int ProgressWidth(int index, int total, int panelWidth)
{
    if (total <= 0 || index <= 0 || panelWidth <= 0)
        return 0;
    const long long num = static_cast<long long>(index) * panelWidth;
    long long q = num / total;
    const long long twiceRest = 2 * (num % total);
    if (twiceRest > total || (twiceRest == total && (q & 1)))
        ++q;
    return static_cast<int>(q);
}

// The heartbeat panel shows 1, 2, 3, 4 bullets and then nothing, one step a
// poll: append a bullet, and clear the text once it is longer than 4.
inline QString NextHeartbeatText(const QString &current)
{
    QString next = current + QChar(0x2022);
    if (next.size() > 4)
        next.clear();
    return next;
}

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
    virtual void setStatusText(const QString &text) = 0;

    // ImageProgress width := progressWidth(index, total, panel width);
    // (0, 0) empties the picture.
    virtual void setProgress(int index, int total) = 0;

    // Repaints the state indicator from the engine's syncState and applies the enable
    // rules of the service commands.
    virtual void updateStateIndicator() = 0;

    // One heartbeat step of the request thread on status panel 2 (see
    // nextHeartbeatText).
    virtual void pulseHeartbeat() = 0;
};

class NullSyncView : public ISyncView {
public:
    void setStatusText(const QString &) override {}
    void setProgress(int, int) override {}
    void updateStateIndicator() override {}
    void pulseHeartbeat() override {}
};

// index / total × panelWidth rounded to the nearest integer, halves to even;
// 0 when total is not positive.
inline int progressWidth(int index, int total, int panelWidth)
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
inline QString nextHeartbeatText(const QString &current)
{
    QString next = current + QChar(0x2022);
    if (next.size() > 4)
        next.clear();
    return next;
}

#pragma once
// A window's placement kept in the settings file, in the window's own section
// (its class name as the design knew it: "TCards", "TCardEdit", ...): the
// normal rectangle, applied only at the screen resolution it was saved with,
// and, where the window keeps it, whether it was maximised.
//
// A dialog restores its placement each time it is shown and saves it each
// time it closes, whatever closed it; a window destroyed without having saved
// since it was shown saves then (with "Visible" 1).

#include <QPointer>
#include <QString>

class QWidget;

class PlacementStore {
public:
    // keepState: the maximised state is kept too.
    PlacementStore(QWidget *window, const QString &section, bool keepState);
    ~PlacementStore();

    // The settings file; empty: nothing is read or written.
    void setFile(const QString &path) { m_path = path; }
    QString file() const { return m_path; }
    QString section() const { return m_section; }

    // Reads and applies the placement (call when the window is being shown).
    void restore();
    // Writes the placement keys into the file, leaving its other sections.
    void save(bool destroying = false);

private:
    QPointer<QWidget> m_window;
    QString m_section;
    bool m_keepState;
    QString m_path;
    bool m_pendingSave = false;
};

#include "MainWindow.h"

#include "LinkSettingsWindow.h"

#include "core/IniFile.h"
#include "core/WindowPlacements.h"
#include "monitor/core/SyncEngine.h"
#include "records/DataTable.h"

#include <QDate>

// The main window's stored values: read at the first showing, written at
// the close, together with the link settings window's section.

// ---------------------------------------------------------------- settings

void MainWindow::restoreSettings()
{
    SyncEngine *engine = m_engine;
    if (engine)
        engine->startControlTimer();

    IniFile ini(m_settingsPath);
    // The link's timing values are the link settings' (read by the program
    // entry); without them the section's values are read here and kept.
    if (m_rs232)
        readFaceOwnValues(ini, m_storedValues);
    else
        readFaceValues(ini, m_storedValues);
    if (engine)
        engine->setNamesOutOfStep(m_storedValues.namesOutOfStep);
    if (engine)
        engine->setLastStoredIndex(m_storedValues.lastStoredIndex);

    // Records copied today stay new across a restart on the same day; on the
    // first start of a new day everything read so far becomes old.
    DataTable *measures = m_measures;
    m_view.lastCheckedIndex = settleOnlyNewBoundary(
        m_storedValues.lastCheckedIndex, m_storedValues.lastStoredIndex,
        [measures](int index) -> std::optional<QDateTime> {
            if (!measures || !measures->active())
                return std::nullopt;
            if (!measures->locate(fieldName(MeasuresField::Index), index))
                return std::nullopt;
            return measures->asDateTime(fieldName(MeasuresField::RecoveryTime));
        },
        QDate::currentDate());

    if (m_rs232)
        m_rs232->restoreSettings(ini);
    updateStateIndicator();
}

void MainWindow::saveSettings()
{
    if (m_settingsPath.isEmpty())
        return;
    IniFile ini(m_settingsPath);  // the other windows' sections stay as they are

    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    FormPlacement p = placementOf(normal, logicalDpiY());
    p.showCmd = isMaximized() ? 3 : isMinimized() ? 2 : 1;
    p.visible = 0;
    WindowPlacements::forFile(m_settingsPath).write(ini, SectionFace, p);

    FaceStoredValues v = m_storedValues;
    if (m_rs232)  // the link values are written back as they were read
        static_cast<TimingValues &>(v) = m_rs232->settings().timing();
    if (m_engine)
        v.lastStoredIndex = m_engine->snapshot().lastStoredIndex;
    v.lastCheckedIndex = m_view.lastCheckedIndex;
    if (m_engine)
        v.namesOutOfStep = m_engine->snapshot().namesOutOfStep;
    writeFaceValues(ini, v);
    if (m_rs232)
        m_rs232->saveSettings(ini);
    ini.save();
}

#include "MainWindow.h"

#include "LinkSettingsWindow.h"

#include "link/SerialLink.h"
#include "monitor/core/IniFile.h"
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
        engine->StartControlTimer();

    TIniFile ini(m_settingsPath);
    ReadFaceValues(ini, StoredValues);
    if (engine)
        engine->INeedSynhroFIO = StoredValues.INeedSynhroFIO;
    if (SerialLink *link = m_rs232 ? &m_rs232->Link() : nullptr) {
        link->setPingDelayMs(StoredValues.PingDelayMS);
        link->setSendDelayMs(StoredValues.SendDelayMS);
        link->setBaseRequestCount(StoredValues.BaseRequestCount);
        link->setFixedReceiveWindow(StoredValues.FixedReceiveWindow);
    }
    if (engine)
        engine->LastReadedIndex = StoredValues.LastReadedIndex;

    // Records copied today stay new across a restart on the same day; on the
    // first start of a new day everything read so far becomes old.
    DataTable *measures = m_measures;
    m_view.LastCheckedIndex = SettleOnlyNewBoundary(
        StoredValues.LastCheckedIndex, StoredValues.LastReadedIndex,
        [measures](int index) -> std::optional<QDateTime> {
            if (!measures || !measures->active())
                return std::nullopt;
            if (!measures->locate(QStringLiteral("Index"), index))
                return std::nullopt;
            return measures->asDateTime(QStringLiteral("RecoveryTime"));
        },
        QDate::currentDate());

    if (m_rs232)
        m_rs232->Restore(ini);
    UpdateStateIndicator();
}

void MainWindow::saveSettings()
{
    if (m_settingsPath.isEmpty())
        return;
    TIniFile ini(m_settingsPath);  // the other windows' sections stay as they are

    FormPlacement p;
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    p.NormPos[0] = normal.left();
    p.NormPos[1] = normal.top();
    p.NormPos[2] = normal.left() + normal.width();
    p.NormPos[3] = normal.top() + normal.height();
    p.ShowCmd = isMaximized() ? 3 : isMinimized() ? 2 : 1;
    p.PixelsPerInch = logicalDpiY();
    p.Visible = 0;
    WritePlacement(ini, SectionFace, p);

    FaceStoredValues v = StoredValues;  // the link values are written back as they were read
    if (m_engine)
        v.LastReadedIndex = m_engine->LastReadedIndex;
    v.LastCheckedIndex = m_view.LastCheckedIndex;
    if (m_engine)
        v.INeedSynhroFIO = m_engine->INeedSynhroFIO;
    WriteFaceValues(ini, v);
    if (m_rs232)
        m_rs232->Save(ini);
    ini.save();
}

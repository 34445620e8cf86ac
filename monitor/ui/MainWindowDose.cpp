#include "MainWindow.h"

#include "ClickLabel.h"

#include "core/Prompt.h"
#include "records/DataModule.h"
#include "records/DoseAlerts.h"
#include "records/StoreError.h"
#include "records/ui/DataChecksWindow.h"
#include "records/ui/DoseAlertList.h"
#include "records/ui/DoseLevelsWindow.h"

#include <QAction>
#include <QDebug>
#include <QMenu>
#include <QTimer>

// The main window's dose control: the three commands of the service menu
// and the alert mark of the top strip.

namespace {

DataModule *openModule()
{
    DataModule *dm = dataModule();
    return dm && dm->connected() ? dm : nullptr;
}

} // namespace

void MainWindow::buildDoseCommands(QMenu *service, QAction *before)
{
    auto action = [this](const char *name, const QString &caption, void (MainWindow::*slot)()) {
        auto *a = new QAction(caption, this);
        a->setObjectName(QLatin1String(name));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    m_doseLevelsAction = action("actDoseLevels", QStringLiteral("Контрольные уровни..."), &MainWindow::openDoseLevels);
    m_doseAlertsAction = action("actDoseAlerts", QStringLiteral("Оповещения о дозах..."), &MainWindow::openDoseAlerts);
    m_dataChecksAction = action("actDataChecks", QStringLiteral("Контроль данных..."), &MainWindow::openDataChecks);
    service->insertSeparator(before);
    service->insertActions(before, {m_doseLevelsAction, m_doseAlertsAction, m_dataChecksAction});
}

QWidget *MainWindow::buildAlertMark(QWidget *parent)
{
    m_alertMark = new ClickLabel(parent);
    m_alertMark->setObjectName(QStringLiteral("LabelDoseAlerts"));
    m_alertMark->setAlignment(Qt::AlignCenter);
    m_alertMark->setCursor(Qt::PointingHandCursor);
    m_alertMark->setStyleSheet(QStringLiteral("QLabel { background: #D00000; color: white; font-weight: bold; "
                                              "border: 1px solid #800000; border-radius: 6px; padding: 0 8px; }"));
    m_alertMark->hide();
    connect(m_alertMark, &ClickLabel::clicked, this, &MainWindow::openDoseAlerts);
    return m_alertMark;
}

void MainWindow::watchDoseAlerts()
{
    disconnect(m_alertWatch);
    if (DataModule *dm = openModule()) {
        // Alerts are raised on the store path of the cycle: count once the
        // burst is over, never from inside it.
        m_alertWatch = connect(&DoseAlerts::signalOf(*dm), &DoseAlertsSignal::changed, this, [this] {
            if (m_alertCountQueued)
                return;
            m_alertCountQueued = true;
            QTimer::singleShot(0, this, &MainWindow::refreshAlertCount);
        });
    }
    // Alerts another workstation stores in a shared store show on the next tick.
    if (m_backupTimer)
        connect(m_backupTimer, &QTimer::timeout, this, &MainWindow::refreshAlertCount, Qt::UniqueConnection);
    refreshAlertCount();
}

void MainWindow::refreshAlertCount()
{
    m_alertCountQueued = false;
    qint64 count = 0;
    if (DataModule *dm = openModule()) {
        try {
            count = DoseAlerts(*dm).unacknowledgedCount();
        } catch (const std::exception &e) {
            // The mark keeps what it showed; the store's failure is told where it is used.
            qWarning() << "dose alerts not counted:" << e.what();
            return;
        }
    }
    m_alertCount = count;
    m_alertMark->setText(QStringLiteral("Оповещения: %1").arg(count));
    m_alertMark->setToolTip(QStringLiteral("Неквитированные оповещения о дозах: %1. Щелчок открывает список.").arg(count));
    m_alertMark->setVisible(count > 0);
}

void MainWindow::openDoseLevels()
{
    DataModule *dm = openModule();
    if (!dm)
        return;
    DoseLevelsWindow window(prompt(), *dm, this);
    prompt().runModal(&window, [&window] { return window.exec(); });
}

void MainWindow::openDoseAlerts()
{
    DataModule *dm = openModule();
    if (!dm)
        return;
    {
        DoseAlertList window(prompt(), *dm, this);
        prompt().runModal(&window, [&window] { return window.exec(); });
    }
    refreshAlertCount();
}

void MainWindow::openDataChecks()
{
    DataModule *dm = openModule();
    if (!dm)
        return;
    DataChecksWindow window(prompt(), *dm, QDateTime::currentDateTime(), this);
    window.setSettingsPath(m_settingsPath);
    prompt().runModal(&window, [&window] { return window.exec(); });
}

#include "LinkSettingsWindow.h"

#include "core/WindowPlacements.h"
#include "monitor/core/SyncEngine.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "core/Prompt.h"

LinkSettingsWindow::LinkSettingsWindow(LinkSettings &settings, QWidget *parent)
    : QDialog(parent), m_settings(&settings)
{
    setObjectName(SectionRS232);
    setWindowTitle(QStringLiteral("Настройки соединения"));

    auto *layout = new QVBoxLayout(this);
    auto *menu = new QMenuBar(this);
    layout->setMenuBar(menu);
    QMenu *file = menu->addMenu(QStringLiteral("&Файл"));
    m_exitAction = file->addAction(QStringLiteral("В&ыход"));
    m_exitAction->setObjectName(QStringLiteral("N2"));
    m_exitAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+X")));
    connect(m_exitAction, &QAction::triggered, this, &QDialog::reject);

    QWidget *central = this;
    m_portGroup = new QGroupBox(QStringLiteral("СОМ-порт"), central);
    m_portGroup->setObjectName(QStringLiteral("GroupBox1"));
    auto *groupLayout = new QHBoxLayout(m_portGroup);
    m_portCombo = new QComboBox(m_portGroup);
    m_portCombo->setObjectName(QStringLiteral("CB_ComPort"));
    for (int i = 1; i <= 8; ++i)
        m_portCombo->addItem(QStringLiteral("COM") + QString::number(i));
    m_portCombo->setToolTip(QStringLiteral("Номер COM-порта для обмена на компьютере"));
    groupLayout->addWidget(m_portCombo);
    layout->addWidget(m_portGroup);

    m_useThreadCheck = new QCheckBox(QStringLiteral("Использовать отдельный поток"), central);
    m_useThreadCheck->setObjectName(QStringLiteral("CB_UseThread"));
    layout->addWidget(m_useThreadCheck);

    auto *buttons = new QHBoxLayout;
    m_okButton = new QPushButton(QStringLiteral("&Принять"), central);
    m_okButton->setObjectName(QStringLiteral("btnOk"));
    m_okButton->setToolTip(QStringLiteral("Принять изменения"));
    m_okButton->setDefault(true);
    m_okButton->setAutoDefault(true);
    m_cancelButton = new QPushButton(QStringLiteral("&Отменить"), central);
    m_cancelButton->setObjectName(QStringLiteral("btnCancel"));
    m_cancelButton->setToolTip(QStringLiteral("Отменить и выйти"));
    buttons->addStretch();
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_cancelButton);
    layout->addLayout(buttons);

    connect(m_okButton, &QPushButton::clicked, this, [this] {
        applyThreadChoice();
        accept();
    });
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    showValues();
    m_checkedAtOpen = m_useThreadCheck->isChecked();
    connect(m_portCombo, qOverload<int>(&QComboBox::currentIndexChanged), this, &LinkSettingsWindow::selectPort);
    // The box follows the settings whoever changed them (the thread choice
    // only while the window is closed: open, it is the operator's).
    connect(m_settings, &LinkSettings::portChanged, this, [this] {
        const RS232StoredValues &p = m_settings->port();
        {
            QSignalBlocker block(m_portCombo);
            m_portCombo->setCurrentIndex(p.comPortItemIndex);
        }
        if (p.comPortItemIndex < 0)
            m_portCombo->setPlaceholderText(p.portName);
        if (!isVisible()) {
            m_useThreadCheck->setChecked(p.useThread);
            m_checkedAtOpen = p.useThread;
        }
    });

    // A fixed border: the window keeps its designed size.
    adjustSize();
    setFixedSize(qMax(width(), 260), sizeHint().height());
}

LinkSettingsWindow::~LinkSettingsWindow() = default;

void LinkSettingsWindow::showValues()
{
    const RS232StoredValues &p = m_settings->port();
    m_portCombo->setCurrentIndex(p.comPortItemIndex);
    if (p.comPortItemIndex < 0)
        m_portCombo->setPlaceholderText(p.portName);
    m_useThreadCheck->setChecked(p.useThread);
}

void LinkSettingsWindow::selectPort(int index)
{
    m_settings->setComPortIndex(index);
    if (index < 0)
        m_portCombo->setPlaceholderText(m_settings->port().portName);
}

int LinkSettingsWindow::showModal()
{
    m_checkedAtOpen = m_useThreadCheck->isChecked();
    return activePrompt().runModal(this, [this]() { return exec(); });
}

void LinkSettingsWindow::applyThreadChoice()
{
    SyncEngine *engine = m_engine;
    const bool checked = m_useThreadCheck->isChecked();
    m_checkedAtOpen = checked;
    m_settings->setUseThread(checked);
    if (!engine)
        return;
    if (checked) {
        engine->setUseThread(true);
        if (!engine->threadRunning())
            engine->requestThreadStart();
    } else {
        if (engine->threadRunning())
            engine->stopThread(200);
        engine->setUseThread(false);
    }
}

void LinkSettingsWindow::done(int result)
{
    if (result != QDialog::Accepted)
        m_useThreadCheck->setChecked(m_checkedAtOpen);
    QDialog::done(result);
}

void LinkSettingsWindow::restoreSettings(const IniFile &ini)
{
    showValues();
    m_checkedAtOpen = m_useThreadCheck->isChecked();
    if (m_engine)
        m_engine->setUseThread(m_checkedAtOpen);

    FormPlacement p;
    if (WindowPlacements::forFile(ini.path()).read(ini, SectionRS232, p, true)) {
        const int dpi = logicalDpiY();
        // The stored rectangle is the window's own (what Save writes, without
        // the frame); putting it back the same way keeps the window in place.
        if (p.pixelsPerInch == dpi) {
            setGeometry(p.normPos[0], p.normPos[1], width(), height());
            m_placed = true;
        }
        if (QWidget *w = findChild<QWidget *>(p.activeControl))
            w->setFocus();
    }
}

void LinkSettingsWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    m_placed = true;
}

void LinkSettingsWindow::saveSettings(IniFile &ini) const
{
    QRect g = geometry();
    // A window never shown nor placed has no position of its own yet: the
    // one written is where it opens, over the middle of the main window,
    // not the corner of the screen.
    if (!m_placed && parentWidget())
        g.moveCenter(parentWidget()->window()->geometry().center());
    FormPlacement p = placementOf(g, logicalDpiY());
    QWidget *focused = focusWidget();
    p.activeControl = focused ? focused->objectName() : QString();
    WindowPlacements::forFile(ini.path()).write(ini, SectionRS232, p, true);
    m_settings->writePort(ini);
}

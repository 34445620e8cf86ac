#include "LinkSettingsWindow.h"

#include "link/SerialLink.h"
#include "monitor/core/SyncEngine.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/Prompt.h"

LinkSettingsWindow::LinkSettingsWindow(SerialLink &link, QWidget *parent) : QDialog(parent), m_link(&link)
{
    setObjectName(QStringLiteral("TRS232"));
    setWindowTitle(QStringLiteral("Настройки соединения"));

    auto *layout = new QVBoxLayout(this);
    auto *menu = new QMenuBar(this);
    layout->setMenuBar(menu);
    QMenu *file = menu->addMenu(QStringLiteral("&Файл"));
    N2 = file->addAction(QStringLiteral("В&ыход"));
    N2->setObjectName(QStringLiteral("N2"));
    N2->setShortcut(QKeySequence(QStringLiteral("Ctrl+X")));
    connect(N2, &QAction::triggered, this, &LinkSettingsWindow::N2Click);

    QWidget *central = this;
    GroupComPort = new QGroupBox(QStringLiteral("СОМ-порт"), central);
    GroupComPort->setObjectName(QStringLiteral("GroupBox1"));
    auto *groupLayout = new QHBoxLayout(GroupComPort);
    CB_ComPort = new QComboBox(GroupComPort);
    CB_ComPort->setObjectName(QStringLiteral("CB_ComPort"));
    for (int i = 1; i <= 8; ++i)
        CB_ComPort->addItem(QStringLiteral("COM") + QString::number(i));
    CB_ComPort->setCurrentIndex(0);
    CB_ComPort->setToolTip(QStringLiteral("Номер COM-порта для обмена на компьютере"));
    groupLayout->addWidget(CB_ComPort);
    layout->addWidget(GroupComPort);

    CB_UseThread = new QCheckBox(QStringLiteral("Использовать отдельный поток"), central);
    CB_UseThread->setObjectName(QStringLiteral("CB_UseThread"));
    layout->addWidget(CB_UseThread);

    auto *buttons = new QHBoxLayout;
    btnOk = new QPushButton(QStringLiteral("&Принять"), central);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setToolTip(QStringLiteral("Принять изменения"));
    btnOk->setDefault(true);
    btnOk->setAutoDefault(true);
    btnCancel = new QPushButton(QStringLiteral("&Отменить"), central);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setToolTip(QStringLiteral("Отменить и выйти"));
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons);

    connect(btnOk, &QPushButton::clicked, this, [this] {
        btnOkClick();
        accept();
    });
    connect(btnCancel, &QPushButton::clicked, this, &LinkSettingsWindow::btnCancelClick);
    connect(CB_ComPort, qOverload<int>(&QComboBox::currentIndexChanged), this, &LinkSettingsWindow::selectPort);
    selectPort(CB_ComPort->currentIndex());  // the link follows the box from the start

    // A fixed border: the window keeps its designed size.
    adjustSize();
    setFixedSize(qMax(width(), 260), sizeHint().height());
}

LinkSettingsWindow::~LinkSettingsWindow() = default;

void LinkSettingsWindow::selectPort(int index)
{
    m_link->setComPortIndex(index);
    if (index < 0)
        CB_ComPort->setPlaceholderText(m_link->portName());
}

int LinkSettingsWindow::ShowModal()
{
    m_checkedAtOpen = CB_UseThread->isChecked();
    return activePrompt().runModal(this, [this]() { return exec(); });
}

void LinkSettingsWindow::btnOkClick()
{
    SyncEngine *engine = m_engine;
    const bool checked = CB_UseThread->isChecked();
    m_checkedAtOpen = checked;
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

void LinkSettingsWindow::btnCancelClick()
{
    reject();
}

void LinkSettingsWindow::N2Click()
{
    reject();
}

void LinkSettingsWindow::done(int result)
{
    if (result != QDialog::Accepted)
        CB_UseThread->setChecked(m_checkedAtOpen);
    QDialog::done(result);
}

void LinkSettingsWindow::Restore(const IniFile &ini)
{
    RS232StoredValues v;
    v.portName = m_link->portName();
    v.comPortItemIndex = CB_ComPort->currentIndex();
    v.useThread = CB_UseThread->isChecked();
    readRS232Values(ini, v);
    if (!v.portName.isEmpty())
        m_link->setPortName(v.portName);
    CB_ComPort->setCurrentIndex(v.comPortItemIndex);
    selectPort(v.comPortItemIndex);
    CB_UseThread->setChecked(v.useThread);
    m_checkedAtOpen = v.useThread;
    if (m_engine)
        m_engine->setUseThread(v.useThread);

    FormPlacement p;
    if (readPlacement(ini, SectionRS232, p, true)) {
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

void LinkSettingsWindow::Save(IniFile &ini) const
{
    FormPlacement p;
    QRect g = geometry();
    // A window never shown nor placed has no position of its own yet: the
    // one written is where it opens, over the middle of the main window,
    // not the corner of the screen.
    if (!m_placed && parentWidget())
        g.moveCenter(parentWidget()->window()->geometry().center());
    p.normPos[0] = g.left();
    p.normPos[1] = g.top();
    p.normPos[2] = g.left() + g.width();
    p.normPos[3] = g.top() + g.height();
    p.pixelsPerInch = logicalDpiY();
    p.showCmd = 1;
    QWidget *focused = focusWidget();
    p.activeControl = focused ? focused->objectName() : QString();
    writePlacement(ini, SectionRS232, p, true);
    saveValues(ini);
}

void LinkSettingsWindow::saveValues(IniFile &ini) const
{
    RS232StoredValues v;
    v.portName = m_link->portName();
    v.comPortItemIndex = CB_ComPort->currentIndex();
    v.useThread = CB_UseThread->isChecked();
    writeRS232Values(ini, v);
}

#include "service/ui/InsertionPrompt.h"

#include "core/Prompt.h"
#include "link/DeviceCommands.h"
#include "service/core/ServiceSession.h"

#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

const QString InsertionPrompt::ObjectName = QStringLiteral("TInsertDosimetr");

InsertionPrompt::InsertionPrompt(ServiceSession &session, IPrompt &prompt, QWidget *parent)
    : QDialog(parent), m_session(session), m_prompt(prompt)
{
    setObjectName(ObjectName);
    setWindowTitle(QStringLiteral("Ожидание дозиметра"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(652, 196);

    auto *label1 = new QLabel(QStringLiteral("Вставьте в считывающее устройство\r\n дозиметр до упора"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->setAlignment(Qt::AlignCenter);
    QFont big(QStringLiteral("Times New Roman"));
    big.setPixelSize(32);
    label1->setFont(big);

    auto *label2 = new QLabel(QStringLiteral("(и отпустите)"), this);
    label2->setObjectName(QStringLiteral("Label2"));
    label2->setAlignment(Qt::AlignCenter);
    QFont small(QStringLiteral("Times New Roman"));
    small.setPixelSize(21);
    label2->setFont(small);

    m_cancel = new QPushButton(QStringLiteral("&Отменить"), this);
    m_cancel->setObjectName(QStringLiteral("btnCancel"));
    m_cancel->setToolTip(QStringLiteral("Отменить и выйти"));
    m_cancel->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label1);
    layout->addWidget(label2);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(m_cancel);
    row->addStretch();
    layout->addLayout(row);

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer"));
    m_timer->setInterval(PollIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &InsertionPrompt::tick);
    m_timer->start();
}

InsertionPrompt::~InsertionPrompt() = default;

bool InsertionPrompt::polling() const
{
    return m_timer->isActive();
}

void InsertionPrompt::done(int result)
{
    // Nothing more goes to the reader once the prompt is closed: the writes
    // that follow must not meet a configuration request between them.
    m_closed = true;
    m_timer->stop();
    QDialog::done(result);
}

void InsertionPrompt::tick()
{
    // One poll at a time: a reader slower than the interval is not queued up.
    if (m_closed || m_pollUnderWay)
        return;
    m_pollUnderWay = true;
    ++m_pollsSent;
    m_session.post([](SerialLink *link) { return readReaderConfig(link); }, this,
                   [this](const CommandResult<ReaderConfigData> &result, std::exception_ptr error) {
                       pollDone(result, error);
                   });
}

void InsertionPrompt::pollDone(const CommandResult<ReaderConfigData> &result, std::exception_ptr error)
{
    if (m_closed)
        return;
    if (error) {
        // Shown once; the polls go on meanwhile waiting for the box.
        if (!m_errorShown) {
            m_errorShown = true;
            m_prompt.message(MsgKind::Error, serviceErrorText(error), PromptButton::Ok);
        }
        m_pollUnderWay = false;
        return;
    }
    m_pollUnderWay = false;
    if (result.ok() && result.value.modeSwitching() && (result.value.status & StatusDosimeterInserted))
        accept();
}

bool InsertionPrompt::waitForDosimeter(ServiceSession &session, IPrompt &prompt, QWidget *parent)
{
    auto *window = new InsertionPrompt(session, prompt, parent);
    const int result = prompt.runModal(window, [window] { return window->exec(); });
    // Destroyed at once, so no timer of it can run again.
    delete window;
    return result == QDialog::Accepted;
}

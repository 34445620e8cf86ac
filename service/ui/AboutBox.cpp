#include "service/ui/AboutBox.h"

#include "ProgramVersion.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QtMath>

const QString AboutBox::ObjectName = QStringLiteral("TAboutBox");

namespace {

// The program's picture: a pencil-shaped dosimeter beside the program's name,
// 300 x 105 pixels, scaled proportionally into its place.
class ProgramPicture : public QWidget {
public:
    explicit ProgramPicture(QWidget *parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("ProgramIcon"));
        setMinimumSize(150, 53);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override { return QSize(300, 105); }
    int heightForWidth(int w) const override { return w * 105 / 300; }
    bool hasHeightForWidth() const override { return true; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal scale = qMin(width() / 300.0, height() / 105.0);
        p.translate((width() - 300 * scale) / 2, (height() - 105 * scale) / 2);
        p.scale(scale, scale);

        QLinearGradient sky(0, 0, 0, 105);
        sky.setColorAt(0, QColor(0xE8, 0xF0, 0xFA));
        sky.setColorAt(1, QColor(0xB8, 0xCC, 0xE8));
        p.setPen(QPen(QColor(0x40, 0x60, 0x90), 1.5));
        p.setBrush(sky);
        p.drawRoundedRect(QRectF(1, 1, 298, 103), 10, 10);

        // The dosimeter: a slim body with a clip, a window and a tip.
        p.save();
        p.translate(22, 80);
        p.rotate(-28);
        p.setPen(QPen(QColor(0x20, 0x30, 0x50), 1.2));
        QLinearGradient body(0, -9, 0, 9);
        body.setColorAt(0, QColor(0x70, 0x80, 0x98));
        body.setColorAt(0.5, QColor(0xD8, 0xDE, 0xE8));
        body.setColorAt(1, QColor(0x50, 0x5C, 0x70));
        p.setBrush(body);
        p.drawRoundedRect(QRectF(0, -9, 92, 18), 5, 5);
        QPainterPath tip;
        tip.moveTo(92, -7);
        tip.lineTo(106, 0);
        tip.lineTo(92, 7);
        tip.closeSubpath();
        p.setBrush(QColor(0x30, 0x38, 0x48));
        p.drawPath(tip);
        p.setBrush(QColor(0x28, 0x70, 0x40));
        p.drawRect(QRectF(30, -5, 30, 10));
        p.setPen(QPen(QColor(0x9A, 0xF0, 0xB0), 1));
        p.drawLine(QPointF(34, 0), QPointF(56, 0));
        p.setPen(QPen(QColor(0x20, 0x30, 0x50), 1.2));
        p.setBrush(QColor(0xA8, 0xB0, 0xC0));
        p.drawRect(QRectF(6, -13, 22, 4));
        p.restore();

        QFont title(QStringLiteral("Sans Serif"));
        title.setBold(true);
        title.setPixelSize(46);
        p.setFont(title);
        p.setPen(QColor(0x1A, 0x3A, 0x6E));
        p.drawText(QRectF(120, 8, 175, 56), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("RUVO"));
        QFont sub(QStringLiteral("Sans Serif"));
        sub.setPixelSize(17);
        p.setFont(sub);
        p.setPen(QColor(0x30, 0x48, 0x70));
        p.drawText(QRectF(122, 62, 175, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Монитор"));
    }
};

// The running picture: three bars of a dose-rate scale that sweep around a
// pulsing centre, 100 x 100 pixels.
class RunningPicture : public QWidget {
public:
    explicit RunningPicture(QWidget *parent) : QWidget(parent), m_timer(new QTimer(this))
    {
        setObjectName(QStringLiteral("RxGIFAnimator1"));
        setFixedSize(100, 100);
        m_timer->setInterval(60);
        connect(m_timer, &QTimer::timeout, this, [this] {
            m_step = (m_step + 1) % 120;
            update();
        });
        m_timer->start();
    }
    bool running() const { return m_timer->isActive(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(50, 50);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xF6, 0xD3, 0x3C));
        p.drawEllipse(QPointF(0, 0), 48, 48);
        p.rotate(m_step * 3.0);
        p.setBrush(QColor(0x22, 0x22, 0x22));
        for (int i = 0; i < 3; ++i) {
            QPainterPath blade;
            blade.moveTo(0, 0);
            blade.arcTo(QRectF(-40, -40, 80, 80), 90 + i * 120 - 30, 60);
            blade.closeSubpath();
            QPainterPath hole;
            hole.addEllipse(QPointF(0, 0), 12, 12);
            p.drawPath(blade.subtracted(hole));
        }
        p.rotate(-m_step * 3.0);
        const qreal pulse = 6 + 2.5 * qSin(m_step * M_PI / 15);
        p.drawEllipse(QPointF(0, 0), pulse, pulse);
    }

private:
    QTimer *m_timer;
    int m_step = 0;
};

}  // namespace

AboutBox::AboutBox(QWidget *parent) : QDialog(parent)
{
    setObjectName(ObjectName);
    setWindowTitle(QStringLiteral("О программе"));

    auto *picture = new ProgramPicture(this);
    auto *owner = new QLabel(QStringLiteral("Группа разработки RUVO\n2024 - 2026"), this);
    owner->setObjectName(QStringLiteral("OwnerLabel"));
    auto *running = new RunningPicture(this);

    auto *memo = new QPlainTextEdit(this);
    memo->setObjectName(QStringLiteral("Memo1"));
    memo->setReadOnly(true);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setPlainText(memoLines().join(QLatin1Char('\n')));
    memo->setFixedHeight(110);

    QFont bold = font();
    bold.setBold(true);
    auto *product = new QLabel(QStringLiteral("RUVO - Монитор"), this);
    product->setObjectName(QStringLiteral("ProductName"));
    product->setFont(bold);
    auto *version = new QLabel(QCoreApplication::applicationVersion(), this);
    version->setObjectName(QStringLiteral("Version"));
    version->setFont(bold);

    auto *ok = new QPushButton(QStringLiteral("&Закрыть"), this);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setToolTip(QStringLiteral("Принять изменения"));
    ok->setDefault(true);
    // Both the default and the cancel button: Enter and Escape close the box.
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *grid = new QGridLayout;
    grid->addWidget(picture, 0, 0);
    grid->addWidget(running, 0, 1, 2, 1, Qt::AlignCenter);
    grid->addWidget(owner, 1, 0);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(memo);
    layout->addWidget(product);
    layout->addWidget(version);
    layout->addLayout(buttons);
    setFixedWidth(440);
}

QString AboutBox::builtVersion()
{
    return QStringLiteral(RUVO_PROGRAM_VERSION);
}

QString AboutBox::versionText() const
{
    const auto *label = findChild<QLabel *>(QStringLiteral("Version"));
    return label ? label->text() : QString();
}

QStringList AboutBox::memoLines() const
{
    return {
        QStringLiteral("Программа «RUVO - Монитор»"),
        QStringLiteral("RUVO-М.0001-01"),
        QStringLiteral("предназначена для поддержки "),
        QStringLiteral("работы ИДК на базе комплекта"),
        QStringLiteral("индивидуальных дозиметров RUVO-Д,"),
        QStringLiteral("разработанной группой RUVO, для"),
        QStringLiteral("настройки,  анализа данных."),
        QStringLiteral("Программа работает с прибором"),
        QStringLiteral("«Терминал регистрации электронных дозиметров»"),
        QStringLiteral("ТРЕМ-01."),
    };
}

#include "WidgetPrompt.h"

#include <QApplication>
#include <QGuiApplication>
#include <QTextStream>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QTranslator>
#include <QMessageBox>
#include <QPushButton>

bool WidgetPrompt::isUnattendedRun()
{
    return QGuiApplication::platformName() == QLatin1String("offscreen")
           || qEnvironmentVariableIntValue("RUVO_UNATTENDED") == 1;
}

namespace {

void toStderr(const QString &text)
{
    QString line = text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    QTextStream(stderr) << "RUVO: " << line << Qt::endl;
}

} // namespace

QTranslator *WidgetPrompt::installStandardTexts()
{
    auto *translator = new QTranslator(qApp);
    if (!translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

PromptButton WidgetPrompt::message(MsgKind kind, const QString &text, PromptButtons buttons)
{
    if (isUnattendedRun()) {
        toStderr(text);
        return (buttons & PromptButton::Cancel) ? PromptButton::Cancel : PromptButton::Ok;
    }
    return show(kind, text, buttons);
}

PromptButton WidgetPrompt::ask(MsgKind kind, const QString &text, PromptButtons buttons, PromptButton unattended)
{
    if (isUnattendedRun()) {
        toStderr(text);
        return unattended;
    }
    return show(kind, text, buttons);
}

PromptButton WidgetPrompt::show(MsgKind kind, const QString &text, PromptButtons buttons)
{
    QMessageBox box(m_parent);
    const QString title = qApp->property("ruvoTitle").toString();
    box.setWindowTitle(title.isEmpty() ? QApplication::applicationName() : title);
    switch (kind) {
    case MsgKind::Information: box.setIcon(QMessageBox::Information); break;
    case MsgKind::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgKind::Error: box.setIcon(QMessageBox::Critical); break;
    case MsgKind::Question: box.setIcon(QMessageBox::Question); break;
    }
    // The texts use CR and LF as their own line breaks; a lone CR breaks too.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box.setText(shown);

    struct Map { PromptButton ours; QMessageBox::StandardButton theirs; };
    const Map map[] = {{PromptButton::Ok, QMessageBox::Ok}, {PromptButton::Yes, QMessageBox::Yes}, {PromptButton::No, QMessageBox::No},
                       {PromptButton::Cancel, QMessageBox::Cancel}, {PromptButton::Abort, QMessageBox::Abort},
                       {PromptButton::Ignore, QMessageBox::Ignore}};
    QMessageBox::StandardButtons standard;
    for (const Map &m : map)
        if (buttons & m.ours)
            standard |= m.theirs;
    if (!standard)
        standard = QMessageBox::Ok;
    box.setStandardButtons(standard);
    for (const Map &m : map)
        if (QAbstractButton *b = box.button(m.theirs))
            b->setText(m.ours == PromptButton::Ok ? QStringLiteral("OK")
                       : m.ours == PromptButton::Yes ? QStringLiteral("&Да")
                       : m.ours == PromptButton::No ? QStringLiteral("&Нет")
                       : m.ours == PromptButton::Abort ? QStringLiteral("&Прервать")
                       : m.ours == PromptButton::Ignore ? QStringLiteral("&Пропустить")
                                         : QStringLiteral("Отмена"));
    if (buttons & PromptButton::Cancel)
        box.setEscapeButton(QMessageBox::Cancel);
    else if (buttons & PromptButton::Abort)
        box.setEscapeButton(QMessageBox::Abort);
    const int result = box.exec();
    for (const Map &m : map)
        if (result == m.theirs)
            return m.ours;
    return (buttons & PromptButton::Cancel) ? PromptButton::Cancel : PromptButton::Ok;
}

bool WidgetPrompt::input(const QString &caption, const QString &label, QString &value)
{
    if (isUnattendedRun())
        return false;
    bool ok = false;
    const QString entered = QInputDialog::getText(m_parent, caption, label, QLineEdit::Normal, value, &ok);
    if (!ok)
        return false;
    value = entered;
    return true;
}

int WidgetPrompt::runModal(QObject *, const std::function<int()> &exec)
{
    if (isUnattendedRun())
        return 0;
    return exec ? exec() : 0;
}

void WidgetPrompt::beep()
{
    QApplication::beep();
}

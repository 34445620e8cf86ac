#include "service/core/DosimeterOptions.h"

#include "records/AuditLog.h"

#include <QStringList>
#include <cmath>

const QString LabelReadFailedText = QStringLiteral(
    "Не удалось считать текущую метку дозиметра\r\n\r\n нарушен обмен данными,\r\n не установлен дозиметр,\r\n или нет "
    "прав на редактирование");
const QString NumberReadFailedText = QStringLiteral(
    "Не удалось считать текущий номер дозиметра\r\n\r\n нарушен обмен данными,\r\n не установлен дозиметр,\r\n или нет "
    "прав на редактирование");
const QString LabelAccessText = QStringLiteral("Доступ к метке дозиметра");
const QString ModeWriteFailedMessage = QStringLiteral("\r\nНе удалось записать номер дозиметра и режим");

QString formatTotalDose(float dose)
{
    return QString::asprintf("%.3E", double(dose));
}

QString totalDoseDisplay(float dose)
{
    // The value decides, not its text: a NaN with the sign bit set prints "-NAN".
    if (std::isnan(dose))
        return QStringLiteral("Не определено");
    return formatTotalDose(dose);
}

QString totalDoseInfo(const QString &value, const QDateTime &moment)
{
    return QStringLiteral("Значение ") + value + QStringLiteral(" прочитано из прибора ")
        + moment.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QString labelWrittenInfo(bool verified, const QString &sentText, const QString &readBackText,
                         const QString &modeMessage)
{
    if (verified)
        return QStringLiteral("Идентификатор\r\n") + readBackText + QStringLiteral("\r\n")
            + QStringLiteral("успешно записан в дозиметр") + modeMessage;
    return QStringLiteral("При попытке записи идентификатора\r\n") + sentText + QStringLiteral("\r\n")
        + QStringLiteral("\r\n") + QStringLiteral("в дозиметр записан идентификатор") + QStringLiteral("\r\n")
        + readBackText + modeMessage;
}

int changedLabelGroups(const QByteArray &target, const KnownLabel &known)
{
    int changed = 0;
    for (int g = 0; g < LabelGroups; ++g)
        if (target.mid(g * LabelGroupSize, LabelGroupSize) != known.groups.at(g))
            ++changed;
    return changed;
}

QString labelWriteFailedText(const QString &sentText, const QVector<int> &writtenGroups, int changedGroups,
                             const QString &modeMessage)
{
    QString groups;
    if (writtenGroups.isEmpty()) {
        groups = QStringLiteral("\r\nНи одна группа метки не записана");
    } else {
        QStringList numbers;
        for (const int g : writtenGroups)
            numbers << QString::number(g + 1);
        groups = QStringLiteral("\r\nЗаписаны группы метки: ") + numbers.join(QStringLiteral(", "))
            + QStringLiteral(" (из ") + QString::number(changedGroups) + QStringLiteral(" изменяемых)");
    }
    return QStringLiteral("Попытка записи идентификатора\r\n") + sentText + QStringLiteral("\r\n")
        + QStringLiteral("в дозиметр") + QStringLiteral("\r\n") + QStringLiteral("завершилась неудачей") + groups
        + modeMessage;
}

QString modeWrittenMessage(bool accumulation)
{
    return QStringLiteral("\r\nрежим (") + (accumulation ? QStringLiteral("1") : QStringLiteral("0"))
        + QStringLiteral(")") + QStringLiteral(" успешно записан в дозиметр");
}

QString otherDosimeterMessage(quint32 number)
{
    return ModeWriteFailedMessage + QStringLiteral(": в считывателе другой дозиметр (") + QString::number(number)
        + QStringLiteral(")");
}

Result<> auditDoseClear(DataModule &dm, const QString &number, std::optional<float> before, std::optional<float> after)
{
    const auto dose = [](std::optional<float> d) {
        return AuditLog::valuesText({{QStringLiteral("Dose"), d ? formatTotalDose(*d) : QString()}});
    };
    return AuditLog(dm).append(
        {AuditLog::DosimeterTable, number.trimmed(), AuditLog::WriteAction, dose(before),
         AuditLog::valuesText({{QStringLiteral("Dose"), formatTotalDose(0.0f)}}) + QStringLiteral(" | read back: ")
             + dose(after)});
}

// The dose texts; see DoseText.h.

#include "records/DoseText.h"

#include <QLocale>
#include <cmath>

namespace DoseText {

QString microUnit()
{
    return QStringLiteral("мкЗв");
}

QString milliUnit()
{
    return QStringLiteral("мЗв");
}

QString format(double microsieverts, DoseShown shown)
{
    static const QLocale russian(QLocale::Russian, QLocale::Russia);
    // One decimal in microsieverts: the resolution readings are stored with.
    const double micro = std::round(microsieverts * 10.0) / 10.0;
    if (shown == DoseShown::Sum && std::fabs(micro) >= 1000.0)
        return russian.toString(microsieverts / 1000.0, 'f', 2) + QChar(0x00A0) + milliUnit();
    return russian.toString(micro, 'f', 1) + QChar(0x00A0) + microUnit();
}

} // namespace DoseText

#include "TextCode.h"

#include <QStringDecoder>
#include <QStringEncoder>

QByteArray toCp1251(const QString &text)
{
    QStringEncoder encoder("windows-1251", QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}

QString fromCp1251(const QByteArray &bytes)
{
    QStringDecoder decoder("windows-1251", QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

#include "TextCode.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

#include <algorithm>
#include <array>

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

namespace {

// One character of the text starting at unit i: its code and its length in
// units (a lone surrogate: its own code, length 1).
char32_t characterAt(const QString &text, qsizetype i, int &units)
{
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
        units = 2;
        return QChar::surrogateToUcs4(c, text.at(i + 1));
    }
    units = 1;
    return c.unicode();
}

bool isSurrogate(char32_t c)
{
    return c >= 0xD800 && c <= 0xDFFF;
}

} // namespace

bool cp1251Holds(char32_t c)
{
    if (c < 0x80)
        return true;
    // The characters of bytes 80..FF, sorted: built once from the decoder.
    static const std::array<char16_t, 128> upper = [] {
        std::array<char16_t, 128> t{};
        for (int b = 0x80; b < 0x100; ++b) {
            const QString s = fromCp1251(QByteArray(1, char(b)));
            t[b - 0x80] = (s.size() == 1 && s.at(0) != QChar::ReplacementCharacter) ? s.at(0).unicode() : 0;
        }
        std::sort(t.begin(), t.end());
        return t;
    }();
    return c <= 0xFFFF && std::binary_search(upper.begin(), upper.end(), char16_t(c));
}

qsizetype characterCount(const QString &text)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size();) {
        int units = 1;
        if (!isSurrogate(characterAt(text, i, units)))
            ++n;
        i += units;
    }
    return n;
}

QString leftCharacters(const QString &text, qsizetype n)
{
    QString out;
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size() && count < n;) {
        int units = 1;
        if (!isSurrogate(characterAt(text, i, units))) {
            out += QStringView(text).mid(i, units);
            ++count;
        }
        i += units;
    }
    return out;
}

QString charactersNotHeld(const QString &text, CharacterRule holds)
{
    QString out;
    for (qsizetype i = 0; i < text.size();) {
        int units = 1;
        const char32_t c = characterAt(text, i, units);
        const QStringView one = QStringView(text).mid(i, units);
        if ((isSurrogate(c) || !holds(c)) && !out.contains(one))
            out += one;
        i += units;
    }
    return out;
}

QString keepHeldCharacters(const QString &text, CharacterRule holds)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        int units = 1;
        const char32_t c = characterAt(text, i, units);
        if (!isSurrogate(c) && holds(c))
            out += QStringView(text).mid(i, units);
        i += units;
    }
    return out;
}

QString characterList(const QString &characters)
{
    QStringList items;
    for (qsizetype i = 0; i < characters.size();) {
        int units = 1;
        const char32_t c = characterAt(characters, i, units);
        if (isSurrogate(c) || c < 0x20 || (c >= 0x7F && c < 0xA0))
            items << QStringLiteral("U+%1").arg(quint32(c), 4, 16, QLatin1Char('0')).toUpper();
        else
            items << QStringLiteral("«%1»").arg(QStringView(characters).mid(i, units));
        i += units;
    }
    return items.join(QStringLiteral(", "));
}

QString refusedCharactersText(const QString &boxTitle, const QString &characters, bool device)
{
    const QString target = device ? QStringLiteral("в таблице символов дозиметра")
                                  : QStringLiteral("в кодовой странице Windows-1251");
    return QStringLiteral("В поле «%1» есть символы, которых нет %2: %3.\r\nУдалите или замените их.")
        .arg(boxTitle, target, characterList(characters));
}

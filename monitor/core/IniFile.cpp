#include "IniFile.h"

#include "core/TextCode.h"

#include <QFile>
#include <QSaveFile>

IniFile::IniFile(const QString &path) : m_path(path)
{
    load();
}

bool IniFile::load()
{
    m_sections.clear();
    if (m_path.isEmpty())
        return false;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    fromBytes(file.readAll());
    return true;
}

void IniFile::fromBytes(const QByteArray &bytes)
{
    m_sections.clear();
    const QString text = fromCp1251(bytes);
    int current = -1;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')))
            continue;
        if (trimmed.startsWith(QLatin1Char('['))) {
            const int close = trimmed.indexOf(QLatin1Char(']'));
            if (close < 0) {
                current = -1;  // a broken header: its lines belong to no section
                continue;
            }
            const QString name = trimmed.mid(1, close - 1).trimmed();
            current = findSection(name);
            if (current < 0) {
                m_sections.append({name, {}});
                current = m_sections.size() - 1;
            }
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (current < 0 || eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (key.isEmpty())
            continue;
        const QString value = line.mid(eq + 1);
        Section &s = m_sections[current];
        const int k = findKey(s, key);
        if (k < 0)
            s.entries.append({key, value});
        else
            s.entries[k].value = value;
    }
}

QByteArray IniFile::toBytes() const
{
    QString text;
    for (const Section &s : m_sections) {
        text += QLatin1Char('[') + s.name + QStringLiteral("]\r\n");
        for (const Entry &e : s.entries)
            text += e.key + QLatin1Char('=') + e.value + QStringLiteral("\r\n");
        text += QStringLiteral("\r\n");
    }
    return toCp1251(text);
}

bool IniFile::save() const
{
    if (m_path.isEmpty())
        return false;
    // Written to a side file and renamed over the old one, so a failure while
    // writing never leaves a half-written settings file behind.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(toBytes());
    return file.commit();
}

int IniFile::findSection(const QString &name) const
{
    for (int i = 0; i < m_sections.size(); ++i)
        if (m_sections[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int IniFile::findKey(const Section &s, const QString &key)
{
    for (int i = 0; i < s.entries.size(); ++i)
        if (s.entries[i].key.compare(key, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QStringList IniFile::sections() const
{
    QStringList out;
    for (const Section &s : m_sections)
        out << s.name;
    return out;
}

bool IniFile::sectionExists(const QString &section) const
{
    return findSection(section) >= 0;
}

bool IniFile::valueExists(const QString &section, const QString &key) const
{
    const int s = findSection(section);
    return s >= 0 && findKey(m_sections[s], key) >= 0;
}

QStringList IniFile::keys(const QString &section) const
{
    QStringList out;
    const int s = findSection(section);
    if (s >= 0)
        for (const Entry &e : m_sections[s].entries)
            out << e.key;
    return out;
}

QString IniFile::readString(const QString &section, const QString &key, const QString &def) const
{
    const int s = findSection(section);
    if (s < 0)
        return def;
    const int k = findKey(m_sections[s], key);
    return k < 0 ? def : m_sections[s].entries[k].value;
}

int IniFile::readInteger(const QString &section, const QString &key, int def) const
{
    const QString text = readString(section, key).trimmed();
    if (text.isEmpty())
        return def;
    bool ok = false;
    int value;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = text.mid(2).toInt(&ok, 16);
    else if (text.startsWith(QLatin1Char('$')))
        value = text.mid(1).toInt(&ok, 16);
    else
        value = text.toInt(&ok, 10);
    return ok ? value : def;
}

bool IniFile::readBool(const QString &section, const QString &key, bool def) const
{
    const QString text = readString(section, key).trimmed();
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok ? n != 0 : def;
}

void IniFile::writeString(const QString &section, const QString &key, const QString &value)
{
    int s = findSection(section);
    if (s < 0) {
        m_sections.append({section, {}});
        s = m_sections.size() - 1;
    }
    // A value cannot hold a line break in this format; keep it on one line.
    QString v = value;
    v.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    Section &sec = m_sections[s];
    const int k = findKey(sec, key);
    if (k < 0)
        sec.entries.append({key, v});
    else
        sec.entries[k].value = v;
}

void IniFile::writeInteger(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString &section, const QString &key, bool value)
{
    writeString(section, key, value ? QStringLiteral("True") : QStringLiteral("False"));
}

void IniFile::eraseSection(const QString &section)
{
    const int s = findSection(section);
    if (s >= 0)
        m_sections.removeAt(s);
}

void IniFile::deleteKey(const QString &section, const QString &key)
{
    const int s = findSection(section);
    if (s < 0)
        return;
    const int k = findKey(m_sections[s], key);
    if (k >= 0)
        m_sections[s].entries.removeAt(k);
}

QString IniFile::listSection(const QString &section, const QString &key)
{
    return section + QLatin1Char('.') + key;
}

void IniFile::writeList(const QString &section, const QString &key, const QStringList &lines)
{
    const QString name = listSection(section, key);
    eraseSection(name);
    if (lines.isEmpty())
        return;
    writeInteger(name, QStringLiteral("Count"), int(lines.size()));
    for (int i = 0; i < lines.size(); ++i)
        writeString(name, QStringLiteral("Item") + QString::number(i), lines[i]);
}

bool IniFile::readList(const QString &section, const QString &key, QStringList &lines) const
{
    const QString name = listSection(section, key);
    const int count = readInteger(name, QStringLiteral("Count"), 0);
    if (count <= 0)
        return false;
    // A damaged count never makes more lines than the section holds keys.
    const int limit = int(keys(name).size()) - 1;  // every key but "Count"
    QStringList out;
    for (int i = 0; i < count && i < limit; ++i)
        out << readString(name, QStringLiteral("Item") + QString::number(i));
    lines = out;
    return true;
}

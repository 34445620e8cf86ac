#pragma once
// The settings file: an INI-style text in Windows-1251 with CR LF line ends.
// Sections in square brackets, each followed by "key=value" lines. Section and
// key names compare without regard to letter case. A missing or damaged file
// reads as empty (every read then gives its default); lines that are neither a
// section header nor a key with "=" are skipped.
//
// The object keeps the whole file in memory: reads and writes work on that
// copy, save() writes it back in one go.

#include <QList>
#include <QString>
#include <QStringList>

class IniFile {
public:
    IniFile() = default;
    explicit IniFile(const QString &path);  // loads the file when it exists

    const QString &path() const { return m_path; }
    void setPath(const QString &path) { m_path = path; }

    bool load();        // re-reads the file; false (and empty content) when it cannot be read
    bool save() const;  // writes the whole content; false when the file cannot be written
    QByteArray toBytes() const;           // the file text as it is written
    void fromBytes(const QByteArray &bytes);  // parses a file text (replaces the content)

    QStringList sections() const;
    bool sectionExists(const QString &section) const;
    bool valueExists(const QString &section, const QString &key) const;
    QStringList keys(const QString &section) const;

    QString readString(const QString &section, const QString &key, const QString &def = QString()) const;
    // Decimal integers (also "0x"-prefixed hexadecimal); anything unreadable gives def.
    int readInteger(const QString &section, const QString &key, int def) const;
    // "True"/"False" in any case, or an integer (non-zero is true); else def.
    bool readBool(const QString &section, const QString &key, bool def) const;

    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);  // "True"/"False"

    void eraseSection(const QString &section);
    void deleteKey(const QString &section, const QString &key);

    // A list property lives in its own section "<section>.<key>" with "Count"
    // and "Item0", "Item1", ... Writing first erases the list's section and
    // writes nothing for an empty list. Reading replaces `lines` only when
    // "Count" is greater than 0 and returns whether it did; a list emptied and
    // saved therefore comes back with the lines the caller started from.
    static QString listSection(const QString &section, const QString &key);
    void writeList(const QString &section, const QString &key, const QStringList &lines);
    bool readList(const QString &section, const QString &key, QStringList &lines) const;

private:
    struct Entry {
        QString key;
        QString value;
    };
    struct Section {
        QString name;
        QList<Entry> entries;
    };
    int findSection(const QString &name) const;
    static int findKey(const Section &s, const QString &key);

    QString m_path;
    QList<Section> m_sections;
};

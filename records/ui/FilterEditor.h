#pragma once
// The formula editor of the stored filters (TFiltrRecordDetail), captioned
// "Добавление фильтра" or "Редактирование фильтра": the filter's name and
// its formula, which the operator types or builds by clicking the field
// labels of Measures, the macros and the operator buttons (each click adds
// its text at the end of the formula).
//
// Accepting keeps the dialog open, with a message, when the name holds "="
// or a character the settings file cannot hold; an empty name becomes the
// formula without its "=" signs. The formula is handed back on one line.

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class PlacementStore;

class FilterEditor : public QDialog {
    Q_OBJECT
public:
    explicit FilterEditor(QWidget *parent = nullptr);
    ~FilterEditor() override;

    // The settings file: the stored control values are read now, the
    // placement at every opening; everything is written at every closing.
    void setSettingsFile(const QString &path);

    void setFilterName(const QString &name);
    QString filterName() const;
    void setFormula(const QString &formula);
    QString formula() const;         // on one line, as it is stored
    void appendToken(const QString &text);

    // Shows the editor (modal, through the prompt) with the caption, name and
    // formula; on OK they hold what the operator accepted.
    bool edit(const QString &caption, QString &name, QString &formula);

    // The token buttons' captions, the constants, in the order shown.
    static QStringList tokens();
    static QStringList constants();

protected:
    void showEvent(QShowEvent *event) override;
    void done(int result) override;

private:
    void acceptFormula();
    void saveSettings();

    QLineEdit *m_name = nullptr;
    QPlainTextEdit *m_memo = nullptr;
    QListWidget *m_fields = nullptr;
    QListWidget *m_constants = nullptr;
    QComboBox *m_examples = nullptr;
    QCheckBox *m_caseSensitive = nullptr;
    QCheckBox *m_noPartial = nullptr;
    PlacementStore *m_placement = nullptr;
    QString m_settingsPath;
};

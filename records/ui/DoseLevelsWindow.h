#pragma once
// "Контрольные уровни" (object name "TDoseLevels"): the control levels a site
// sets, for everyone, a subdivision or one person, for any group or group A
// or B; one line per period (one reading, month, quarter, year, five years,
// pregnancy), the limit and the investigation level in µSv, and the levels
// that apply there with their origin. For a person also their group and
// declared pregnancy. Every change goes to DoseLevels, which checks it; a
// refused one is told with its reason and the window shows the stored
// values again, so nothing changes. An emptied cell removes the site's
// level (the next less specific one applies).

#include "records/DoseLevels.h"

#include <QDialog>
#include <QList>

class DateBox;
class IPrompt;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QTableWidget;

class DoseLevelsWindow : public QDialog {
    Q_OBJECT
public:
    static const QString Caption;  // "Контрольные уровни"
    static const QList<DosePeriod> Periods;  // the table's lines, in order

    DoseLevelsWindow(IPrompt &prompt, DataModule &dm, QWidget *parent = nullptr);

    // Chooses for whom the table shows levels (target: the subdivision or
    // the person key; ignored for everyone).
    void showFor(LevelScope scope, const QString &target = QString(), std::optional<WorkerGroup> group = {});
    LevelKey keyOf(int row, LevelKind kind) const;

    // Sets (text with a number) or removes (empty text) a level as if typed
    // in its cell: true when it was stored.
    bool enter(DosePeriod period, LevelKind kind, const QString &text);
    // "Сохранить" of the person's group and pregnancy.
    bool savePerson();

    QTableWidget *table() const { return m_table; }
    static int columnOf(LevelKind kind) { return kind == LevelKind::Limit ? 1 : 2; }
    // A number as the operator types it: blanks ignored, a comma or a point.
    static std::optional<double> parseAmount(const QString &text);
    static QString amountText(double value);

private:
    void fillTargets();
    void reload();
    void cellEdited(int row, int column);
    LevelScope scope() const;
    QString target() const;
    std::optional<WorkerGroup> group() const;

    IPrompt &m_prompt;
    DataModule &m_dm;
    QComboBox *m_scope = nullptr;
    QComboBox *m_target = nullptr;
    QComboBox *m_group = nullptr;
    QLineEdit *m_operator = nullptr;
    QTableWidget *m_table = nullptr;
    QGroupBox *m_personBox = nullptr;
    QComboBox *m_personGroup = nullptr;
    DateBox *m_pregnantFrom = nullptr;
    DateBox *m_pregnantTo = nullptr;
    bool m_filling = false;
};

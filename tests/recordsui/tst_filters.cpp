// The stored filters: their list in the settings file, the list window and
// the formula editor with real widgets, and choosing a filter for the records
// on a real database, every question answered by script.

#include "core/Prompt.h"
#include "ScriptedPrompt.h"

#include "core/AppState.h"
#include "core/TextCode.h"
#include "monitor/core/RecordsView.h"
#include "records/StoredFilters.h"
#include "records/DataModule.h"
#include "records/ui/FilterParameters.h"
#include "records/ui/FilterEditor.h"
#include "records/ui/FilterList.h"
#include "monitor/ui/RecordsCsvExport.h"
#include "monitor/ui/StoredFilterSwitch.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {

// A program directory with its tables and a few readings: doses 0.5, 5, 50,
// 500 and 5000, the last two marked.
struct Db {
    QTemporaryDir dir;
    DataModule dm;
    Db()
    {
        appState().reset();
        appState().programDir = dir.path() + QLatin1Char('/');
        dm.dataModuleCreate(toldBy(activePrompt()));
        DataTable &m = dm.measures();
        const double doses[] = {0.5, 5, 50, 500, 5000};
        for (int i = 0; i < 5; ++i) {
            m.append();
            m.setFieldValue(QStringLiteral("TarnAddress"), 5);
            m.setFieldValue(QStringLiteral("RecNumber"), i + 1);
            m.setFieldValue(QStringLiteral("DateTime"), QDateTime(QDate(2026, 12, 1 + i), QTime(9, 0)));
            m.setFieldValue(QStringLiteral("ID"), 100 + i);
            m.setFieldValue(QStringLiteral("Name"), QStringLiteral("ДОЗИМЕТР %1").arg(i));
            m.setFieldValue(QStringLiteral("Dose"), doses[i]);
            m.setFieldValue(QStringLiteral("Check"), i >= 3);
            m.post();
        }
    }
    ~Db()
    {
        dm.dataModuleDestroy();
        appState().reset();
    }
};

QPushButton *button(QObject *w, const char *name)
{
    return w->findChild<QPushButton *>(QLatin1String(name));
}

// The editor answered by script: name and formula typed, then "Принять".
std::function<int(QObject *)> typeIntoEditor(const QString &name, const QString &formula)
{
    return [name, formula](QObject *o) {
        auto *e = qobject_cast<FilterEditor *>(o);
        e->setFilterName(name);
        e->setFormula(formula);
        button(e, "btnOk")->click();
        return e->result();
    };
}

// The list answered by script: the row selected, then accepted.
std::function<int(QObject *)> pickRow(int row)
{
    return [row](QObject *o) {
        qobject_cast<FilterList *>(o)->selectRow(row);
        return int(QDialog::Accepted);
    };
}

void key(QWidget *w, int k, Qt::KeyboardModifiers m = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, k, m);
    QCoreApplication::sendEvent(w, &press);
}

} // namespace

class TestFilters : public QObject {
    Q_OBJECT
private slots:
    void storedListAndEditorValues();
    void listCommandsAndEditor();
    void choosingAFilter();
    void switchingOffKeepsOtherModes();
    void exportTakesWhatTheGridShows();
};

void TestFilters::storedListAndEditorValues()
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/RUVO.INI");
    ScriptedPrompt prompt;
    {
        // Commas, further "=" signs and quotes come back whole, in Windows-1251.
        FilterList list;
        list.setSettingsFile(path);
        QCOMPARE(list.entries(), defaultFilterList());
        list.setEntries({QStringLiteral("Иванов, Петров=Name='Иванов, И.' ИЛИ Name='Петров, П.'"),
                         QStringLiteral("Равно=Dose=10")});
        list.reject();  // closing with Cancel keeps the changes
    }
    QByteArray bytes;
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        bytes = f.readAll();
    }
    QVERIFY(bytes.contains(toCp1251(QStringLiteral("[TMeasureFiltr.VLE_Filters_Strings]\r\nCount=2\r\n"
                                                   "Item0=Иванов, Петров=Name='Иванов, И.' ИЛИ Name='Петров, П.'\r\n"))));
    IniFile ini(path);
    QCOMPARE(readFilterList(ini), QStringList({QStringLiteral("Иванов, Петров=Name='Иванов, И.' ИЛИ Name='Петров, П.'"),
                                               QStringLiteral("Равно=Dose=10")}));
    QCOMPARE(filterEntryFormula(readFilterList(ini).first()), QStringLiteral("Name='Иванов, И.' ИЛИ Name='Петров, П.'"));

    // A list deleted to nothing comes back with the five first entries.
    writeFilterList(ini, {});
    ini.save();
    FilterList again;
    again.setSettingsFile(path);
    QCOMPARE(again.entries(), defaultFilterList());

    // The editor's stored values.
    FilterEditorValues v;
    v.memoLines = {QStringLiteral("Dose>1,5")};
    v.caseSensitive = true;
    writeFilterEditorValues(ini, v);
    FilterEditorValues back;
    readFilterEditorValues(ini, back);
    QCOMPARE(back.memoLines, v.memoLines);
    QVERIFY(back.caseSensitive && !back.noPartialCompare);
}

void TestFilters::listCommandsAndEditor()
{
    ScriptedPrompt prompt;
    FilterList list;
    auto *tree = list.findChild<QTreeWidget *>(QStringLiteral("VLE_Filters"));
    QVERIFY(tree);
    QCOMPARE(tree->headerItem()->text(0), QStringLiteral("Фильтр"));

    // Adding with the third row selected: the new entry is third. Clicking
    // the field label and the buttons builds the formula; an empty name
    // becomes the formula without its "=" signs, so it reads back whole.
    list.selectRow(2);
    prompt.dialogs[QStringLiteral("TFiltrRecordDetail")] = [](QObject *o) {
        auto *e = qobject_cast<FilterEditor *>(o);
        if (e->windowTitle() != QStringLiteral("Добавление фильтра") || e->filterName() != QStringLiteral("Новый фильтр"))
            return 0;
        e->setFilterName(QString());
        auto *fields = e->findChild<QListWidget *>(QStringLiteral("LB_Fields"));
        const auto dose = fields->findItems(QStringLiteral("Доза, мкЗв"), Qt::MatchExactly);
        if (dose.isEmpty())
            return 0;
        emit fields->itemClicked(dose.first());
        for (const QString &t : {QStringLiteral(">="), QStringLiteral("1"), QStringLiteral("0")})
            for (QPushButton *b : e->findChildren<QPushButton *>())
                if (b->text() == t)
                    b->click();
        button(e, "btnOk")->click();
        return e->result();
    };
    list.addFilter();
    QCOMPARE(list.entries().size(), 6);
    QCOMPARE(list.entries().at(2), QStringLiteral("Доза, мкЗв>10=Доза, мкЗв>=10"));
    QCOMPARE(filterEntryFormula(list.entries().at(2)), QStringLiteral("Доза, мкЗв>=10"));
    QCOMPARE(list.entries().at(3), defaultFilterList().at(2));
    QCOMPARE(translateFilter(QStringLiteral("Доза, мкЗв>=10"), QDateTime::currentDateTime(), 5, measuresFilterFields()),
             QStringLiteral("Dose>=10"));

    // A typed name with "=" is refused and the editor stays open; a formula
    // typed on two lines is stored on one.
    prompt.dialogs[QStringLiteral("TFiltrRecordDetail")] = [&prompt](QObject *o) {
        auto *e = qobject_cast<FilterEditor *>(o);
        e->setFilterName(QStringLiteral("Доза=10"));
        e->setFormula(QStringLiteral("Dose>10\r\n И Check  \n"));
        button(e, "btnOk")->click();
        if (e->result() == QDialog::Accepted || prompt.asked.size() != 1)
            return 0;
        e->setFilterName(QStringLiteral("Доза больше 10, помеченные"));
        button(e, "btnOk")->click();
        return e->result();
    };
    list.selectRow(0);
    list.editFilter();
    QCOMPARE(prompt.asked.size(), 1);
    QCOMPARE(prompt.asked.first().text, QStringLiteral("Наименование фильтра не может содержать знак \"=\"."));
    QCOMPARE(list.entries().at(0), QStringLiteral("Доза больше 10, помеченные=Dose>10 И Check"));

    // The editor cancelled changes nothing.
    prompt.dialogs[QStringLiteral("TFiltrRecordDetail")] = [](QObject *) { return int(QDialog::Rejected); };
    const QStringList before = list.entries();
    list.editFilter();
    list.addFilter();
    QCOMPARE(list.entries(), before);

    // Deleting asks with the name; Cancel keeps the entry, OK deletes it.
    prompt.asked.clear();
    prompt.answers = {PromptButton::Cancel, PromptButton::Ok};
    list.selectRow(1);
    list.deleteFilter();
    QCOMPARE(list.entries(), before);
    QCOMPARE(prompt.asked.first().text,
             QStringLiteral("Вы уверены что хотите удалить фильтр\r\n\"") + filterEntryName(before.at(1)) + "\"");
    QCOMPARE(prompt.asked.first().unattended, PromptButton::Cancel);
    list.deleteFilter();
    QCOMPARE(list.entries().size(), before.size() - 1);

    // Keys: Insert puts an empty row at the selected one (not behind an
    // empty one), Down on the last row one at the end, Ctrl+Delete deletes.
    const int n = tree->topLevelItemCount();
    list.selectRow(0);
    key(tree, Qt::Key_Insert);
    key(tree, Qt::Key_Insert);
    QCOMPARE(tree->topLevelItemCount(), n + 1);
    QCOMPARE(list.selectedRow(), 0);
    QVERIFY(list.selectedEntry().isEmpty());
    QCOMPARE(list.entries().size(), n);  // empty rows are not entries
    list.selectRow(n);
    key(tree, Qt::Key_Down);
    QCOMPARE(tree->topLevelItemCount(), n + 2);
    key(tree, Qt::Key_Delete, Qt::ControlModifier);
    list.selectRow(0);
    key(tree, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(tree->topLevelItemCount(), n);
    QCOMPARE(prompt.asked.size(), 2);  // no question for Ctrl+Delete

    // Adding on an empty row fills it.
    list.selectRow(0);
    key(tree, Qt::Key_Insert);
    prompt.dialogs[QStringLiteral("TFiltrRecordDetail")] = typeIntoEditor(QStringLiteral("Пометка"), QStringLiteral("Check"));
    list.addFilter();
    QCOMPARE(tree->topLevelItemCount(), n + 1);
    QCOMPARE(list.entries().first(), QStringLiteral("Пометка=Check"));
}

void TestFilters::choosingAFilter()
{
    ScriptedPrompt prompt;
    Db db;
    DataTable &m = db.dm.measures();
    RecordsView view(&m);
    view.rebuildColumnLabels();
    FilterList list;
    const int doseColumn = view.columnOfField(int(MeasuresField::Dose));
    const auto quickMin = [&view, doseColumn](const QString &value) {
        return view.setQuickMinFilter(doseColumn, [value](const QString &, const QString &, QString &v) {
            v = value;
            return true;
        });
    };

    // A quick filter in force; the list cancelled, an empty formula, an
    // empty row, an empty list: nothing changes, nothing is said.
    QVERIFY(quickMin(QStringLiteral("5")));
    QCOMPARE(m.recordCount(), 4);
    prompt.asked.clear();  // the start-up announcements of the new tables
    const auto unchanged = [&] {
        return m.filter() == QStringLiteral("Dose>=5") && m.filtered() && view.minLabels[doseColumn].active
            && view.statusText == QStringLiteral("Dose>=5") && !view.extFiltrDown && prompt.asked.isEmpty();
    };
    prompt.defaultDialogResult = QDialog::Rejected;
    QVERIFY(!runStoredFilterSwitch(true, list, view, 5));
    QVERIFY(unchanged());
    list.setEntries({QStringLiteral("Пустой="), QString()});
    prompt.dialogs[QStringLiteral("TMeasureFiltr")] = pickRow(0);
    QVERIFY(!runStoredFilterSwitch(true, list, view, 5));
    QVERIFY(unchanged());
    list.setEntries({});
    QVERIFY(!runStoredFilterSwitch(true, list, view, 5));
    QVERIFY(unchanged());

    // A parameter accepted with its default: Dose>1000; the quick filter
    // goes once the expression is taken.
    list.setEntries(defaultFilterList());
    prompt.dialogs[QStringLiteral("TMeasureFiltr")] = pickRow(2);
    QStringList labels;
    prompt.dialogs[QStringLiteral("TFilterParameters")] = [&labels](QObject *o) {
        auto *w = qobject_cast<FilterParameters *>(o);
        for (QLabel *l : w->findChildren<QLabel *>())
            labels << l->text();
        return int(QDialog::Accepted);
    };
    QVERIFY(runStoredFilterSwitch(true, list, view, 5));
    QCOMPARE(labels, QStringList{QStringLiteral("Dose>")});
    QCOMPARE(m.filter(), QStringLiteral("Dose>1000"));
    QVERIFY(m.filtered() && view.extFiltrDown);
    QCOMPARE(m.recordCount(), 1);
    QCOMPARE(view.statusText, QStringLiteral("С превышением дозы (>? мкЗв)"));
    QVERIFY(!view.minLabels[doseColumn].active);
    QCOMPARE(view.minLabels[doseColumn].text, QStringLiteral("5000"));
    QVERIFY(prompt.asked.isEmpty());

    // The macro of the reader and the labels: the reader at address 5.
    QVERIFY(!runStoredFilterSwitch(false, list, view, 5));
    prompt.dialogs[QStringLiteral("TMeasureFiltr")] = pickRow(3);
    QVERIFY(runStoredFilterSwitch(true, list, view, 5));
    QCOMPARE(m.filter(), QStringLiteral("TarnAddress=5"));
    QCOMPARE(m.recordCount(), 5);
    QVERIFY(!runStoredFilterSwitch(false, list, view, 5));

    // The parameter window cancelled: the error box shows the formula with
    // its brackets, and nothing is applied, also where the text after the
    // last parameter would make a filter of its own.
    QVERIFY(quickMin(QStringLiteral("5")));
    prompt.dialogs[QStringLiteral("TFilterParameters")] = [](QObject *) { return int(QDialog::Rejected); };
    prompt.dialogs[QStringLiteral("TMeasureFiltr")] = pickRow(2);
    QVERIFY(!runStoredFilterSwitch(true, list, view, 5));
    QCOMPARE(prompt.asked.size(), 1);
    QCOMPARE(prompt.asked.first().kind, MsgKind::Error);
    QCOMPARE(prompt.asked.first().text,
             QStringLiteral("Некорректное выражение фильтра \"С превышением дозы (>? мкЗв)\":\r\nDose>[1000]\r\n\r\n"
                            "Измените выражение фильтра в конструкторе фильтров."));
    list.setEntries({QStringLiteral("Помеченные от=[0]Check"), QStringLiteral("Строчное и=Dose>1 и Check"),
                     QStringLiteral("Скобка=Dose>]1[")});
    for (int row = 0; row < 3; ++row) {
        prompt.asked.clear();
        prompt.dialogs[QStringLiteral("TMeasureFiltr")] = pickRow(row);
        QVERIFY(!runStoredFilterSwitch(true, list, view, 5));
        QCOMPARE(prompt.asked.size(), 1);
        QVERIFY(prompt.asked.first().text.startsWith(QStringLiteral("Некорректное выражение фильтра \"")));
        prompt.asked.clear();
        QVERIFY2(unchanged(), qPrintable(m.filter()));
    }
    // The choice itself says so, before any table is asked.
    const StoredFilterChoice lower =
        prepareStoredFilter(QStringLiteral("Строчное и=Dose>1 и Check"), {}, QDateTime::currentDateTime(), 5, m.filterFields());
    QCOMPARE(lower.outcome, StoredFilterChoice::Outcome::Failed);
    QCOMPARE(lower.errorText, storedFilterErrorText(QStringLiteral("Строчное и"), lower.expression));
}

void TestFilters::switchingOffKeepsOtherModes()
{
    ScriptedPrompt prompt;
    Db db;
    DataTable &m = db.dm.measures();
    RecordsView view(&m);
    view.lastCheckedIndex = 3;
    view.rebuildColumnLabels();
    FilterList list;
    list.setEntries(defaultFilterList());
    prompt.dialogs[QStringLiteral("TMeasureFiltr")] = pickRow(4);  // "С пометкой пользователя": Check

    // Only-new on, then the stored filter on and off: only-new is in force again.
    view.extOnlyNewDown = true;
    view.onlyNewToggled();
    QVERIFY(runStoredFilterSwitch(true, list, view, 5));
    QCOMPARE(m.filter(), QStringLiteral("Check"));
    QCOMPARE(m.recordCount(), 2);
    QVERIFY(!runStoredFilterSwitch(false, list, view, 5));
    QVERIFY(m.filtered());
    QCOMPARE(m.filter(), QStringLiteral("Index>3"));
    QCOMPARE(m.recordCount(), 2);
    QCOMPARE(view.statusText, QStringLiteral("Только новые"));

    // The stored filter on, only-new on and off: the stored filter is back.
    QVERIFY(runStoredFilterSwitch(true, list, view, 5));
    view.extOnlyNewDown = false;
    view.onlyNewToggled();
    QVERIFY(m.filtered());
    QCOMPARE(m.filter(), QStringLiteral("Check"));
    QCOMPARE(view.statusText, QStringLiteral("С пометкой пользователя"));

    // Both dropped by a quick filter: every row again.
    view.dropModeFilters();
    QVERIFY(!view.extFiltrDown && !view.extOnlyNewDown);
    QVERIFY(!m.filtered());
    QCOMPARE(m.recordCount(), 5);
    QVERIFY(view.statusText.isEmpty());
}

void TestFilters::exportTakesWhatTheGridShows()
{
    // The names switch shows FIO instead of Name; a quick filter is in
    // force: the file holds those rows and the visible columns, titled as
    // in the grid. Without a file chosen nothing is written.
    ScriptedPrompt prompt;
    Db db;
    DataTable &m = db.dm.measures();
    RecordsView view(&m);
    view.extNotesDown = true;
    view.notesToggled();
    QVERIFY(view.setQuickMinFilter(view.columnOfField(int(MeasuresField::Dose)),
                                   [](const QString &, const QString &, QString &v) {
                                       v = QStringLiteral("500");
                                       return true;
                                   }));
    QCOMPARE(recordsExportColumns(view).size(), 4);
    QCOMPARE(exportRecordsToCsv(nullptr, view).kind(), ErrorKind::Cancelled);

    // The separator chosen in the file dialog is remembered for the next export.
    const QString path = db.dir.path() + QStringLiteral("/export.csv");
    const QString ini = db.dir.path() + QStringLiteral("/RUVO.INI");
    prompt.dialogs[QStringLiteral("CsvExportFile")] = [path](QObject *o) {
        auto *d = qobject_cast<QFileDialog *>(o);
        d->findChild<QComboBox *>(QStringLiteral("CsvSeparator"))->setCurrentIndex(1);  // ", (десятичная точка)"
        d->selectFile(path);
        return int(QDialog::Accepted);
    };
    prompt.asked.clear();
    const CsvResult r = exportRecordsToCsv(nullptr, view, ini);
    QVERIFY2(r.ok(), qPrintable(r.errorText()));
    QCOMPARE(r.value, qint64(2));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("\xEF\xBB\xBF")
                              + QStringLiteral("Дата,№,ФИО (по журналу),\"Доза, мкЗв\"\r\n"
                                               "04.12.2026 09:00:00,103,,500\r\n05.12.2026 09:00:00,104,,5000\r\n")
                                    .toUtf8());
    QCOMPARE(prompt.asked.size(), 1);
    QVERIFY(prompt.asked.first().text.startsWith(QStringLiteral("Записей выгружено: 2")));
    QCOMPARE(storedCsvFormat(ini).separator, QLatin1Char(','));
    storeCsvFormat(ini, CsvFormat::withSeparator(QLatin1Char(';')));
    QString offered;
    prompt.dialogs[QStringLiteral("CsvExportFile")] = [&offered](QObject *o) {
        offered = o->findChild<QComboBox *>(QStringLiteral("CsvSeparator"))->currentText();
        return int(QDialog::Rejected);
    };
    QCOMPARE(exportRecordsToCsv(nullptr, view, ini).kind(), ErrorKind::Cancelled);
    QCOMPARE(offered, QStringLiteral("; (десятичная запятая)"));
}

QTEST_MAIN(TestFilters)
#include "tst_filters.moc"

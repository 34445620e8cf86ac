#include "records/ui/FilterEditor.h"

#include "core/Prompt.h"
#include "records/StoredFilters.h"
#include "records/TableSchema.h"
#include "records/ui/PlacementStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

QStringList FilterEditor::tokens()
{
    return {QStringLiteral("1"), QStringLiteral("2"),  QStringLiteral("3"),  QStringLiteral("4"),   QStringLiteral("5"),
            QStringLiteral("6"), QStringLiteral("7"),  QStringLiteral("8"),  QStringLiteral("9"),   QStringLiteral("0"),
            QStringLiteral("."), QStringLiteral("+"),  QStringLiteral("-"),  QStringLiteral("*"),   QStringLiteral("/"),
            QStringLiteral(">"), QStringLiteral("<"),  QStringLiteral("="),  QStringLiteral(">="),  QStringLiteral("<="),
            QStringLiteral("<>"), QStringLiteral(" И "), QStringLiteral(" ИЛИ "), QStringLiteral("("), QStringLiteral(")")};
}

QStringList FilterEditor::constants()
{
    return {QStringLiteral("{Сейчас}"),       QStringLiteral("{Сегодня}"), QStringLiteral("{Начало недели}"),
            QStringLiteral("{Начало месяца}"), QStringLiteral("{Начало года}"), QStringLiteral("[0]"),
            QStringLiteral("['01.01.1980 01:00:00']"), QStringLiteral("{TARN Сейчас}")};
}

FilterEditor::FilterEditor(QWidget *parent) : QDialog(parent)
{
    setObjectName(SectionFiltrRecordDetail);
    setWindowTitle(QStringLiteral("Редактирование фильтра"));
    m_placement = new PlacementStore(this, SectionFiltrRecordDetail, false);

    auto *outer = new QVBoxLayout(this);
    outer->setSizeConstraint(QLayout::SetFixedSize);  // the editor is not resized

    auto *nameRow = new QHBoxLayout;
    auto *nameLabel = new QLabel(QStringLiteral("Наименование фильтра"), this);
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("EditFilterName"));
    QFont bold = m_name->font();
    bold.setBold(true);
    m_name->setFont(bold);
    nameLabel->setBuddy(m_name);
    nameRow->addWidget(nameLabel);
    nameRow->addWidget(m_name, 1);
    outer->addLayout(nameRow);

    auto *memoBox = new QGroupBox(QStringLiteral("С&одержание фильтра"), this);
    memoBox->setObjectName(QStringLiteral("GroupBox1"));
    auto *memoLayout = new QHBoxLayout(memoBox);
    m_memo = new QPlainTextEdit(memoBox);
    m_memo->setObjectName(QStringLiteral("MemoFilter"));
    m_memo->setFixedHeight(70);
    memoLayout->addWidget(m_memo, 1);
    auto *clear = new QPushButton(QStringLiteral("    О&чистить"), memoBox);
    clear->setObjectName(QStringLiteral("BtnClear"));
    memoLayout->addWidget(clear, 0, Qt::AlignTop);
    outer->addWidget(memoBox);
    // The group's shortcut goes to the formula itself.
    connect(clear, &QPushButton::clicked, m_memo, &QPlainTextEdit::clear);

    auto *middle = new QHBoxLayout;
    auto *fieldsBox = new QGroupBox(QStringLiteral("&Поля"), this);
    auto *fieldsLayout = new QVBoxLayout(fieldsBox);
    m_fields = new QListWidget(fieldsBox);
    m_fields->setObjectName(QStringLiteral("LB_Fields"));
    for (const FieldDef &f : measuresSchema())
        m_fields->addItem(f.label);
    m_fields->setFixedSize(170, 200);
    fieldsLayout->addWidget(m_fields);
    middle->addWidget(fieldsBox);

    auto *constBox = new QGroupBox(QStringLiteral("Константы и переменные"), this);
    auto *constLayout = new QVBoxLayout(constBox);
    m_constants = new QListWidget(constBox);
    m_constants->setObjectName(QStringLiteral("LB_Constants"));
    m_constants->addItems(constants());
    m_constants->setFixedSize(200, 200);
    constLayout->addWidget(m_constants);
    middle->addWidget(constBox);

    auto *tokenGrid = new QGridLayout;
    tokenGrid->setSpacing(3);
    const QStringList t = tokens();
    for (int i = 0; i < t.size(); ++i) {
        auto *b = new QPushButton(t[i], this);
        b->setObjectName(QStringLiteral("BtnToken%1").arg(i));
        b->setAutoDefault(false);
        b->setFixedSize(48, 28);
        const int row = i < 10 ? i / 5 : 2 + (i - 10) / 5;
        const int col = i < 10 ? i % 5 : (i - 10) % 5;
        tokenGrid->addWidget(b, row, col);
        const QString text = t[i];
        connect(b, &QPushButton::clicked, this, [this, text] { appendToken(text); });
    }
    auto *right = new QVBoxLayout;
    right->addLayout(tokenGrid);
    auto *examplesRow = new QHBoxLayout;
    auto *examplesLabel = new QLabel(QStringLiteral("&Примеры"), this);
    m_examples = new QComboBox(this);
    m_examples->setObjectName(QStringLiteral("ComboBox1"));
    examplesLabel->setBuddy(m_examples);
    examplesRow->addWidget(examplesLabel);
    examplesRow->addWidget(m_examples, 1);
    right->addLayout(examplesRow);
    auto *options = new QGroupBox(QStringLiteral("Опции &Фильтрования для строк"), this);
    auto *optionsLayout = new QVBoxLayout(options);
    m_caseSensitive = new QCheckBox(QStringLiteral("&Различать строчные и заглавные"), options);
    m_caseSensitive->setObjectName(QStringLiteral("cbCaseSensitive"));
    m_noPartial = new QCheckBox(QStringLiteral("Точное соответствие"), options);
    m_noPartial->setObjectName(QStringLiteral("cbNoPartialCompare"));
    optionsLayout->addWidget(m_caseSensitive);
    optionsLayout->addWidget(m_noPartial);
    right->addWidget(options);
    right->addStretch(1);
    middle->addLayout(right);
    outer->addLayout(middle);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *ok = new QPushButton(QStringLiteral("&Принять"), this);
    ok->setObjectName(QStringLiteral("btnOk"));
    auto *cancel = new QPushButton(QStringLiteral("&Отменить"), this);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    ok->setAutoDefault(false);
    cancel->setAutoDefault(false);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    outer->addLayout(buttons);

    auto *status = new QLabel(QStringLiteral("Постройте фмльтр из представленных компонентов"), this);
    status->setObjectName(QStringLiteral("StatusBar1"));
    status->setFrameShape(QFrame::StyledPanel);
    outer->addWidget(status);

    connect(m_fields, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) { appendToken(item->text()); });
    connect(m_constants, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *item) { appendToken(item->text()); });
    connect(ok, &QPushButton::clicked, this, &FilterEditor::acceptFormula);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

FilterEditor::~FilterEditor()
{
    delete m_placement;
}

void FilterEditor::setSettingsFile(const QString &path)
{
    m_settingsPath = path;
    m_placement->setFile(path);
    if (path.isEmpty())
        return;
    const IniFile ini(path);
    FilterEditorValues v;
    v.memoLines = m_memo->toPlainText().split(QLatin1Char('\n'));
    readFilterEditorValues(ini, v);
    m_memo->setPlainText(v.memoLines.join(QLatin1Char('\n')));
    m_examples->clear();
    m_examples->addItems(v.examples);
    m_examples->setCurrentIndex(v.exampleIndex < m_examples->count() ? v.exampleIndex : -1);
    m_caseSensitive->setChecked(v.caseSensitive);
    m_noPartial->setChecked(v.noPartialCompare);
}

void FilterEditor::saveSettings()
{
    m_placement->save();
    if (m_settingsPath.isEmpty())
        return;
    IniFile ini(m_settingsPath);
    FilterEditorValues v;
    const QString text = m_memo->toPlainText();
    v.memoLines = text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    for (int i = 0; i < m_examples->count(); ++i)
        v.examples << m_examples->itemText(i);
    v.exampleIndex = m_examples->currentIndex();
    v.caseSensitive = m_caseSensitive->isChecked();
    v.noPartialCompare = m_noPartial->isChecked();
    writeFilterEditorValues(ini, v);
    ini.save();
}

void FilterEditor::setFilterName(const QString &name)
{
    m_name->setText(name);
}

QString FilterEditor::filterName() const
{
    return m_name->text();
}

void FilterEditor::setFormula(const QString &formula)
{
    m_memo->setPlainText(formula);
}

QString FilterEditor::formula() const
{
    return oneLineFormula(m_memo->toPlainText());
}

void FilterEditor::appendToken(const QString &text)
{
    // At the end of the formula, wherever the caret is.
    m_memo->setPlainText(m_memo->toPlainText() + text);
    m_memo->moveCursor(QTextCursor::End);
}

void FilterEditor::acceptFormula()
{
    const QString f = formula();
    QString name = m_name->text();
    QString problem;
    if (name.trimmed().isEmpty())
        name = defaultedFilterName(f);
    else
        problem = filterNameProblem(name);
    if (problem.isEmpty())
        problem = filterFormulaProblem(f);
    if (!problem.isEmpty()) {
        activePrompt().message(MsgKind::Warning, problem, PromptButton::Ok);
        return;  // the editor stays open
    }
    m_name->setText(name);
    m_memo->setPlainText(f);
    accept();
}

bool FilterEditor::edit(const QString &caption, QString &name, QString &formula)
{
    setWindowTitle(caption);
    setFilterName(name);
    setFormula(formula);
    m_name->setFocus();
    setResult(0);
    const int result = activePrompt().runModal(this, [this] { return exec(); });
    if (result != QDialog::Accepted)
        return false;
    name = filterName();
    formula = this->formula();
    return true;
}

void FilterEditor::showEvent(QShowEvent *event)
{
    m_placement->restore();
    QDialog::showEvent(event);
}

void FilterEditor::done(int result)
{
    saveSettings();
    QDialog::done(result);
}

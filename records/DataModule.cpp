#include "records/DataModule.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "core/Prompt.h"
#include "records/StoreError.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringView>
#include <atomic>
#include <optional>

#include <sqlite3.h>

namespace {

DataModule *g_dm = nullptr;
std::atomic<int> g_connectionCounter{0};

const char *const kCollation = "RUNOCASE";

// Unicode case-insensitive order: texts equal but for letter case compare
// equal, so the primary key breaks their ties. The order is Qt's
// case-insensitive comparison of the texts in UTF-16.
int ruNoCaseCompare16(QStringView a, QStringView b)
{
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// The texts as SQLite itself turns the stored UTF-8 into UTF-16, for the rare
// text that is not plain well-formed UTF-8 of the Basic Multilingual Plane:
// a private in-memory connection hands the bytes back through its own
// conversion.
QString sqliteUtf16(const char *bytes, int len)
{
    struct Converter {
        sqlite3 *db = nullptr;
        sqlite3_stmt *stmt = nullptr;
        Converter()
        {
            if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr) == SQLITE_OK)
                sqlite3_prepare_v2(db, "SELECT ?1", -1, &stmt, nullptr);
        }
        ~Converter()
        {
            sqlite3_finalize(stmt);
            sqlite3_close(db);
        }
    };
    thread_local Converter c;
    QString out;
    if (!c.stmt)
        return QString::fromUtf8(bytes, len);
    sqlite3_bind_text(c.stmt, 1, bytes, len, SQLITE_STATIC);
    if (sqlite3_step(c.stmt) == SQLITE_ROW) {
        const auto *u = static_cast<const QChar *>(sqlite3_column_text16(c.stmt, 0));
        out = QString(u, sqlite3_column_bytes16(c.stmt, 0) / 2);
    }
    sqlite3_reset(c.stmt);
    sqlite3_clear_bindings(c.stmt);
    return out;
}

// Decodes well-formed UTF-8 of one- to three-byte characters (no surrogates,
// no U+FFFE/U+FFFF), where every decoder agrees, into out; false for anything
// else or when out is too small.
bool plainUtf8ToUtf16(const unsigned char *s, int len, char16_t *out, int room, int &written)
{
    int n = 0;
    int i = 0;
    while (i < len) {
        if (n == room)
            return false;
        const unsigned c = s[i];
        if (c < 0x80) {
            out[n++] = char16_t(c);
            ++i;
            continue;
        }
        unsigned cp;
        int more;
        if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1F;
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            cp = c & 0x0F;
            more = 2;
        } else {
            return false;
        }
        if (i + more >= len)
            return false;
        for (int k = 1; k <= more; ++k) {
            const unsigned t = s[i + k];
            if ((t & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        i += 1 + more;
        // A continuation byte right after a whole character is not plain.
        if (i < len && (s[i] & 0xC0) == 0x80)
            return false;
        if (more == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF) || cp >= 0xFFFE))
            return false;
        out[n++] = char16_t(cp);
    }
    written = n;
    return true;
}

// The collation on the stored UTF-8 itself: SQLite need not convert both
// texts to UTF-16 in fresh memory for every comparison, which made every
// index write of a text field several times dearer. Bytes both texts share
// are skipped up to the start of the character where they part (any byte
// that is no continuation byte starts a character); the rest is decoded on
// the stack and compared as before.
int ruNoCaseCompare(void *, int len1, const void *s1, int len2, const void *s2)
{
    const auto *a = static_cast<const unsigned char *>(s1);
    const auto *b = static_cast<const unsigned char *>(s2);
    const int common = qMin(len1, len2);
    int p = 0;
    while (p < common && a[p] == b[p])
        ++p;
    if (p == len1 && p == len2)
        return 0;
    while (p > 0 && ((p < len1 && (a[p] & 0xC0) == 0x80) || (p < len2 && (b[p] & 0xC0) == 0x80)))
        --p;
    // Two different ASCII characters that differ also without letter case
    // decide at once (ASCII letters fold to lower case, nothing else folds).
    if (p < len1 && p < len2 && a[p] < 0x80 && b[p] < 0x80) {
        auto fold = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
        const unsigned fa = fold(a[p]);
        const unsigned fb = fold(b[p]);
        if (fa != fb)
            return fa < fb ? -1 : 1;
    }
    constexpr int Room = 256;
    char16_t ua[Room];
    char16_t ub[Room];
    int na = 0;
    int nb = 0;
    if (plainUtf8ToUtf16(a + p, len1 - p, ua, Room, na) && plainUtf8ToUtf16(b + p, len2 - p, ub, Room, nb))
        return ruNoCaseCompare16(QStringView(ua, na), QStringView(ub, nb));
    return ruNoCaseCompare16(sqliteUtf16(static_cast<const char *>(s1), len1),
                             sqliteUtf16(static_cast<const char *>(s2), len2));
}

// ruvo_prefix(value, prefix, caseInsensitive): 1 when value begins with prefix.
void ruPrefixFunction(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (argc != 3 || sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    const auto *v = static_cast<const QChar *>(sqlite3_value_text16(argv[0]));
    const int vLen = sqlite3_value_bytes16(argv[0]) / 2;
    const auto *p = static_cast<const QChar *>(sqlite3_value_text16(argv[1]));
    const int pLen = sqlite3_value_bytes16(argv[1]) / 2;
    const bool ci = sqlite3_value_int(argv[2]) != 0;
    const QStringView value(v, vLen);
    const QStringView prefix(p, pLen);
    sqlite3_result_int(ctx, value.startsWith(prefix, ci ? Qt::CaseInsensitive : Qt::CaseSensitive) ? 1 : 0);
}

QString quoted(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

void report(const QString &text)
{
    activePrompt().message(MsgKind::Error, text, PromptButton::Ok);
}

} // namespace

DataModule *dataModule()
{
    return g_dm;
}

void setDataModule(DataModule *dm)
{
    g_dm = dm;
}

// ---------------------------------------------------------------- module

DataModule::DataModule(QObject *parent)
    : QObject(parent),
      m_measures(this, QStringLiteral("Measures"), QStringLiteral("Measures.DB"), measuresSchema()),
      m_notes(this, QStringLiteral("Notes"), QStringLiteral("Notes.DB"), notesSchema()),
      m_devices(this, QStringLiteral("Devices"), QStringLiteral("Devices.db"), devicesSchema()),
      m_cards(this, QStringLiteral("Cards"), QStringLiteral("Cards.DB"), cardsSchema()),
      m_cardsFind(this, QStringLiteral("Cards"), QStringLiteral("Cards.DB"), cardsSchema())
{
    m_connectionName = QStringLiteral("RUVO-%1").arg(++g_connectionCounter);
}

DataModule::~DataModule()
{
    dataModuleDestroy();
    if (g_dm == this)
        g_dm = nullptr;
}

QString DataModule::dataDir() const
{
    return appState().programDir + QStringLiteral("Data");
}

QString DataModule::tablePath(const QString &fileName) const
{
    return dataDir() + QDir::separator() + fileName;
}

QSqlDatabase DataModule::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

bool DataModule::connected() const
{
    return QSqlDatabase::contains(m_connectionName) && database().isOpen();
}

void DataModule::registerCollation()
{
    QSqlDatabase db = database();
    const QVariant handle = db.driver()->handle();
    sqlite3 *h = nullptr;
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        h = *static_cast<sqlite3 *const *>(handle.constData());
    if (!h)
        throw EGeneralError(QStringLiteral("Нет доступа к соединению SQLite"));
    if (sqlite3_create_collation_v2(h, kCollation, SQLITE_UTF8, nullptr, ruNoCaseCompare, nullptr)
        != SQLITE_OK)
        throw EGeneralError(QString::fromUtf8(sqlite3_errmsg(h)));
    if (sqlite3_create_function_v2(h, "ruvo_prefix", 3, SQLITE_UTF16 | SQLITE_DETERMINISTIC, nullptr,
                                   ruPrefixFunction, nullptr, nullptr, nullptr)
        != SQLITE_OK)
        throw EGeneralError(QString::fromUtf8(sqlite3_errmsg(h)));
}

void DataModule::openConnection()
{
    closeConnection();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(QStringLiteral(":memory:"));
    // Another program holding a table's file makes an operation wait this long
    // before it fails.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=500"));
    if (!db.open())
        throw EGeneralError(db.lastError().text());
    registerCollation();
    QSqlQuery q(db);
    q.exec(QStringLiteral("PRAGMA analysis_limit=1000"));
}

void DataModule::closeConnection()
{
    if (!QSqlDatabase::contains(m_connectionName))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isOpen()) {
            if (m_inTransaction) {
                QSqlQuery q(db);
                q.exec(QStringLiteral("ROLLBACK"));
            }
            for (const QString &schema : std::as_const(m_attached)) {
                QSqlQuery q(db);
                q.exec(QStringLiteral("DETACH DATABASE ") + quoted(schema));
            }
            db.close();
        }
    }
    m_attached.clear();
    m_inTransaction = false;
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool DataModule::isAttached(const QString &schema) const
{
    return m_attached.contains(schema);
}

void DataModule::ensureAttached(const QString &schema, const QString &fileName)
{
    if (isAttached(schema))
        return;
    if (!connected())
        throw EGeneralError(QStringLiteral("База данных RUVO не открыта"));
    QSqlDatabase db = database();
    const QString path = QDir(dataDir()).filePath(fileName);
    {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("ATTACH DATABASE ? AS ") + quoted(schema));
        q.addBindValue(path);
        if (!q.exec())
            throwStoreError(q.lastError());
    }
    // Reading the file's schema now finds a file that is no database at all
    // before anything is written to it. A file that holds the table is
    // switched to write-ahead logging (cheap commits); any other file is
    // left exactly as it is.
    std::optional<QSqlError> failure;
    bool holdsTable = false;
    {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("SELECT count(*) FROM %1.sqlite_master WHERE type = 'table' AND name = ?")
                      .arg(quoted(schema)));
        q.addBindValue(schema);
        if (!q.exec())
            failure = q.lastError();
        else if (q.next())
            holdsTable = q.value(0).toInt() > 0;
    }
    if (failure) {
        QSqlQuery q(db);
        q.exec(QStringLiteral("DETACH DATABASE ") + quoted(schema));
        throwStoreError(*failure);
    }
    m_attached.append(schema);
    if (holdsTable)
        useWriteAheadLog(schema);
}

void DataModule::useWriteAheadLog(const QString &schema)
{
    QSqlDatabase db = database();
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("PRAGMA %1.journal_mode=WAL").arg(quoted(schema))))
        q.exec(QStringLiteral("PRAGMA %1.synchronous=%2").arg(quoted(schema), synchronousFor(schema)));
    // A page cache large enough for the upper levels of every index of a
    // table of a million rows: storing one row then touches the disk once.
    q.exec(QStringLiteral("PRAGMA %1.cache_size=-65536").arg(quoted(schema)));
}

void DataModule::setDurableCommits(bool durable)
{
    m_durable = durable;
    if (!connected())
        return;
    for (const QString &schema : std::as_const(m_attached)) {
        QSqlQuery q(database());
        q.exec(QStringLiteral("PRAGMA %1.synchronous=%2").arg(quoted(schema), synchronousFor(schema)));
    }
}

QString DataModule::synchronousFor(const QString &schema) const
{
    const bool readings = schema.compare(QStringLiteral("Measures"), Qt::CaseInsensitive) == 0;
    return m_durable && !readings ? QStringLiteral("FULL") : QStringLiteral("NORMAL");
}

void DataModule::flushReadings()
{
    const QString schema = QStringLiteral("Measures");
    if (!m_durable || !connected() || !isAttached(schema))
        return;
    // One commit made with a full flush: syncing the log file puts every
    // earlier commit of that file on the disk too. Rewriting the header
    // cookie with its own value is the smallest commit there is.
    QSqlQuery q(database());
    const QString name = quoted(schema);
    if (!q.exec(QStringLiteral("PRAGMA %1.user_version").arg(name)) || !q.next())
        throwStoreError(q.lastError());
    const int version = q.value(0).toInt();
    q.finish();
    bool ok = q.exec(QStringLiteral("PRAGMA %1.synchronous=FULL").arg(name))
        && q.exec(QStringLiteral("PRAGMA %1.user_version=%2").arg(name).arg(version));
    const QSqlError failure = q.lastError();
    q.exec(QStringLiteral("PRAGMA %1.synchronous=%2").arg(name, synchronousFor(schema)));
    if (!ok)
        throwStoreError(failure);
}

namespace {

struct StepBudget {
    int left = 0;
    bool spent = false;
};

int countSteps(void *budget)
{
    auto *b = static_cast<StepBudget *>(budget);
    if (--b->left > 0)
        return 0;
    b->spent = true;
    return 1;  // SQLite stops the statement with SQLITE_INTERRUPT
}

sqlite3 *sqliteHandle(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3 *const *>(handle.constData());
    return nullptr;
}

} // namespace

bool DataModule::withinSteps(int steps, const std::function<void()> &work)
{
    sqlite3 *h = connected() ? sqliteHandle(database()) : nullptr;
    if (!h) {
        work();
        return true;
    }
    // The handler is asked every kPeriod engine steps.
    constexpr int kPeriod = 100;
    StepBudget budget;
    budget.left = qMax(1, steps / kPeriod);
    sqlite3_progress_handler(h, kPeriod, countSteps, &budget);
    try {
        work();
    } catch (const ERuvoError &) {
        sqlite3_progress_handler(h, 0, nullptr, nullptr);
        if (budget.spent)
            return false;
        throw;
    }
    sqlite3_progress_handler(h, 0, nullptr, nullptr);
    return !budget.spent;
}

namespace {

// What a defined function calls: nothing once its work is over. SQLite owns
// the slot and frees it when the function goes (it keeps a function that
// cannot be removed while a statement is still under way).
struct FunctionSlot {
    const DataModule::SqlFunction *fn = nullptr;
};

void callFunction(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    const auto *slot = static_cast<const FunctionSlot *>(sqlite3_user_data(ctx));
    if (!slot->fn) {
        sqlite3_result_error(ctx, "function no longer defined", -1);
        return;
    }
    try {
        (*slot->fn)(ctx, argc, argv);
    } catch (const std::exception &e) {
        sqlite3_result_error(ctx, e.what(), -1);
    }
}

void freeSlot(void *slot)
{
    delete static_cast<FunctionSlot *>(slot);
}

} // namespace

void DataModule::withFunction(const char *name, int nArgs, const SqlFunction &fn, const std::function<void()> &work)
{
    sqlite3 *h = connected() ? sqliteHandle(database()) : nullptr;
    if (!h)
        throw EGeneralError(QStringLiteral("Нет доступа к соединению SQLite"));
    auto *slot = new FunctionSlot{&fn};
    if (sqlite3_create_function_v2(h, name, nArgs, SQLITE_UTF8, slot, callFunction, nullptr, nullptr, freeSlot)
        != SQLITE_OK)
        throw EGeneralError(QString::fromUtf8(sqlite3_errmsg(h)));  // SQLite has freed the slot
    auto remove = [&] {
        slot->fn = nullptr;
        sqlite3_create_function_v2(h, name, nArgs, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr, nullptr);
    };
    try {
        work();
    } catch (...) {
        remove();
        throw;
    }
    remove();
}

void DataModule::detach(const QString &schema)
{
    if (!isAttached(schema))
        return;
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("DETACH DATABASE ") + quoted(schema)))
        throwStoreError(q.lastError());
    m_attached.removeAll(schema);
}

void DataModule::notifyPeers(DataTable *changed)
{
    for (DataTable *t : {&m_measures, &m_notes, &m_devices, &m_cards, &m_cardsFind}) {
        if (t != changed && t->tableName() == changed->tableName() && t->active())
            t->peerChanged();
    }
}

void DataModule::startTransaction()
{
    if (m_inTransaction)
        throw EGeneralError(QStringLiteral("Транзакция уже начата"));
    if (!connected())
        throw EGeneralError(QStringLiteral("База данных RUVO не открыта"));
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("BEGIN")))
        throwStoreError(q.lastError());
    m_inTransaction = true;
}

void DataModule::commit()
{
    if (!m_inTransaction)
        throw EGeneralError(QStringLiteral("Транзакция не начата"));
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("COMMIT")))
        throwStoreError(q.lastError());
    m_inTransaction = false;
}

void DataModule::rollback()
{
    if (!m_inTransaction)
        return;
    {
        QSqlQuery q(database());
        q.exec(QStringLiteral("ROLLBACK"));
    }
    m_inTransaction = false;
    // Rows written in the transaction are gone: every view re-reads.
    for (DataTable *t : {&m_measures, &m_notes, &m_devices, &m_cards, &m_cardsFind}) {
        if (t->active()) {
            try {
                t->cancel();  // a pending row is not written after the rollback
                t->refresh();
            } catch (const ERuvoError &) {
            }
        }
    }
}

Transaction::Transaction(TableHost &host) : m_host(host)
{
    m_host.startTransaction();
}

Transaction::~Transaction()
{
    if (!m_done) {
        try {
            m_host.rollback();
        } catch (...) {
        }
    }
}

void Transaction::commit()
{
    m_host.commit();
    m_done = true;
}

// ---------------------------------------------------------------- start-up

void DataModule::dataModuleCreate()
{
    m_terminateRequested = false;

    // 1. The data directory.
    const QString dir = dataDir();
    if (!QFileInfo(dir).isDir()) {
        if (QDir().mkpath(dir))
            report(QStringLiteral("Не обнаружен каталог \r") + dir + QStringLiteral("\r")
                   + QStringLiteral("произведено его пересеоздание"));
        else
            report(QStringLiteral("Не обнаружен каталог \r") + dir + QStringLiteral("\r")
                   + QStringLiteral("автоматическое пересеоздание невозможно"));
    }

    // 2. The connection, bound to the data directory.
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        report(QStringLiteral("Для корректной работы программы, настройте BDE: "));
        m_terminateRequested = true;
        return;
    }
    try {
        openConnection();
    } catch (const ERuvoError &) {
        // Without a working connection nothing can be stored at all.
        report(QStringLiteral("Для корректной работы программы, настройте BDE: "));
        m_terminateRequested = true;
        closeConnection();
        return;
    }
    if (!QFileInfo(dir).isDir())
        report(QStringLiteral("DM: Ошибка при открытии базы данных"));

    // 3. Missing tables are announced and created; a failure to create one
    //    goes to the caller and ends the start-up here.
    DataTable *const tables[] = {&m_measures, &m_notes, &m_devices, &m_cards};
    for (DataTable *t : tables) {
        const QString path = tablePath(t->fileName());
        if (!QFileInfo::exists(path)) {
            report(QStringLiteral("Не обнаружена таблица \r") + path + QStringLiteral("\r")
                   + QStringLiteral("будет произведена попытка создания новой таблицы"));
            t->createTable();
        }
    }

    // 4. Indexes, each table on its own.
    for (DataTable *t : tables) {
        QString text;
        if (t == &m_measures)
            text = QStringLiteral("DM: Ошибка при открытии таблицы измерений\r");
        else if (t == &m_notes)
            text = QStringLiteral("DM: Ошибка при открытии таблицы журнала\r");
        else if (t == &m_devices)
            text = QStringLiteral("DM: Ошибка при открытии таблицы устройств ТРЕМ\r");
        else
            text = QStringLiteral("DM: Ошибка при открытии таблицы картотеки\r");
        try {
            rebuildIndexes(*t);
        } catch (const std::exception &) {
            report(text + tablePath(t->fileName()) + QStringLiteral("\r"));
        }
    }

    // 5. The second cursor on the cards.
    try {
        m_cardsFind.open();
    } catch (const std::exception &) {
        report(QStringLiteral("DM: Ошибка при открытии дубля таблицы картотеки\r") + tablePath(m_cardsFind.fileName())
               + QStringLiteral("\r"));
    }
}

namespace {

struct IndexSpec {
    QString name;
    QString sql;
};

// The indexes a table keeps: one per field, named "i" + field name; texts
// ordered without regard to letter case, everything else in plain order so
// that exact look-ups (the duplicate check on DateTime) can use them.
QList<IndexSpec> indexSpecs(const DataTable &table)
{
    QList<IndexSpec> specs;
    for (const FieldDef &f : table.fields()) {
        IndexSpec s;
        s.name = QStringLiteral("i") + f.name;
        s.sql = QStringLiteral("CREATE INDEX %1 ON %2(%3%4)")
                    .arg(quoted(s.name), quoted(table.tableName()), quoted(f.name),
                         f.type == FieldType::Text ? QStringLiteral(" COLLATE RUNOCASE") : QString());
        specs.append(s);
    }
    // The synchronisation cycle's duplicate check looks up one archive record
    // by its time, reader and number before every append; this index answers
    // it directly, also before the table has statistics.
    if (table.tableName() == QLatin1String("Measures")) {
        specs.append({QStringLiteral("iArchiveRecord"),
                      QStringLiteral("CREATE INDEX \"iArchiveRecord\" ON \"Measures\"(\"DateTime\", \"TarnAddress\", "
                                     "\"RecNumber\")")});
    }
    return specs;
}

} // namespace

void DataModule::rebuildIndexes(DataTable &table)
{
    // 1. Closed, then exclusive, natural order, no filter, views quiet.
    table.close();
    table.setExclusive(true);
    table.setIndexFieldNames(QString());
    table.setFilter(QString());
    table.disableControls();

    QString failure;
    bool failed = false;
    try {
        // 2-3. Open exclusively: the table's file is locked against writers
        //      until the rebuild is committed.
        table.open();
        const QString schema = quoted(table.tableName());
        // 4-5. The primary key is part of the table itself; every field gets
        //      its index. An index that is missing or not as it should be is
        //      made anew; damaged index pages are rebuilt from the rows.
        const QList<IndexSpec> specs = indexSpecs(table);
        QHash<QString, QString> existing;
        {
            QSqlQuery q = table.exec(QStringLiteral("SELECT name, sql FROM %1.sqlite_master WHERE type = 'index' "
                                                    "AND tbl_name = ? AND sql IS NOT NULL")
                                         .arg(schema),
                                     {table.tableName()});
            while (q.next())
                existing.insert(q.value(0).toString(), q.value(1).toString());
        }
        QStringList kept;
        for (auto it = existing.cbegin(); it != existing.cend(); ++it) {
            bool wanted = false;
            for (const IndexSpec &s : specs)
                wanted = wanted || (s.name == it.key() && s.sql == it.value());
            if (wanted)
                kept.append(it.key());
            else
                table.exec(QStringLiteral("DROP INDEX %1.%2").arg(schema, quoted(it.key())));
        }
        for (const IndexSpec &s : specs) {
            if (!kept.contains(s.name))
                table.exec(QString(s.sql).replace(QStringLiteral("CREATE INDEX \"i"),
                                                  QStringLiteral("CREATE INDEX %1.\"i").arg(schema)));
        }
        bool damaged = false;
        {
            QSqlQuery q = table.exec(QStringLiteral("PRAGMA %1.quick_check").arg(schema));
            while (q.next())
                damaged = damaged || q.value(0).toString() != QLatin1String("ok");
        }
        if (damaged) {
            for (const QString &name : std::as_const(kept))
                table.exec(QStringLiteral("REINDEX %1.%2").arg(schema, quoted(name)));
        }
        // Fresh statistics (from a sample of each index) let SQLite choose
        // the index that narrows a look-up most.
        table.exec(QStringLiteral("ANALYZE %1.%2").arg(schema, quoted(table.tableName())));
        // 6. Closing commits the rebuild.
        table.close();
    } catch (const ERuvoError &e) {
        failed = true;
        failure = e.message();
        try {
            table.close();
        } catch (...) {
        }
    }

    // 7. In every case: shared again, open, views notified.
    table.setExclusive(false);
    try {
        table.open();
    } catch (const ERuvoError &e) {
        if (!failed) {
            failed = true;
            failure = e.message();
        }
    }
    table.enableControls();
    if (failed)
        throw EGeneralError(failure);
}

void DataModule::dataModuleDestroy()
{
    for (DataTable *t : {&m_measures, &m_notes, &m_devices, &m_cards, &m_cardsFind}) {
        try {
            t->close();
        } catch (...) {
        }
    }
    closeConnection();
}

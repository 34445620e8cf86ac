// The database module's additions to SQLite through its C interface: the
// functions ruvo_key and ruvo_prefix and the collation RUNOCASE (the text
// indexes of files written before the sort-key columns) on the connection, the
// bound on a statement's work (withinSteps) and the functions defined for
// the length of one piece of work (withFunction).

#include "records/DataModule.h"

#include "core/Errors.h"

#include <QSqlDriver>
#include <QStringView>

#include <sqlite3.h>

namespace {

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

// ruvo_key(text): the key of the case-insensitive order, a blob whose plain
// byte order is the order of RUNOCASE: each UTF-16 code unit folded as Qt's
// case-insensitive comparison folds it (a low surrogate through the whole
// character), written big-endian. Null stays null.
void ruKeyFunction(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (argc != 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto *s = static_cast<const char16_t *>(sqlite3_value_text16(argv[0]));
    const int n = sqlite3_value_bytes16(argv[0]) / 2;
    QByteArray key(qsizetype(n) * 2, Qt::Uninitialized);
    char16_t last = 0;
    for (int i = 0; i < n; ++i) {
        const char16_t u = s[i];
        char16_t folded;
        if (QChar::isLowSurrogate(u) && QChar::isHighSurrogate(last)) {
            const char32_t cp = QChar::toCaseFolded(QChar::surrogateToUcs4(last, u));
            folded = QChar::requiresSurrogates(cp) ? QChar::lowSurrogate(cp) : char16_t(cp);
        } else {
            folded = char16_t(QChar::toCaseFolded(char32_t(u)));
        }
        last = u;
        key[2 * i] = char(folded >> 8);
        key[2 * i + 1] = char(folded & 0xFF);
    }
    sqlite3_result_blob(ctx, key.constData(), int(key.size()), SQLITE_TRANSIENT);
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

} // namespace

void DataModule::registerCollation()
{
    registerRecordsSqlFunctions(database());
}

void registerRecordsSqlFunctions(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    sqlite3 *h = nullptr;
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        h = *static_cast<sqlite3 *const *>(handle.constData());
    if (!h)
        throw EGeneralError(QStringLiteral("Нет доступа к соединению SQLite"));
    if (sqlite3_create_collation_v2(h, kCollation, SQLITE_UTF8, nullptr, ruNoCaseCompare, nullptr)
        != SQLITE_OK)
        throw EGeneralError(QString::fromUtf8(sqlite3_errmsg(h)));
    if (sqlite3_create_function_v2(h, "ruvo_key", 1, SQLITE_UTF16 | SQLITE_DETERMINISTIC, nullptr, ruKeyFunction,
                                   nullptr, nullptr, nullptr)
        != SQLITE_OK)
        throw EGeneralError(QString::fromUtf8(sqlite3_errmsg(h)));
    if (sqlite3_create_function_v2(h, "ruvo_prefix", 3, SQLITE_UTF16 | SQLITE_DETERMINISTIC, nullptr,
                                   ruPrefixFunction, nullptr, nullptr, nullptr)
        != SQLITE_OK)
        throw EGeneralError(QString::fromUtf8(sqlite3_errmsg(h)));
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

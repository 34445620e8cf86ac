// ruvo-migrate: copies the tables of a data directory into a PostgreSQL
// database (see the section "Центральная база" of the README).
//   ruvo-migrate --from <data directory> --to "host=... port=... dbname=... user=... [sslmode=...]"
// The password comes from ~/.pgpass or PGPASSFILE. Prints the rows read and
// copied per table; a second run copies nothing.

#include "core/Platform.h"
#include "core/Errors.h"
#include "records/StoreMigration.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    keepLocalTimeZone();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Копирует таблицы каталога данных в базу PostgreSQL"));
    parser.addHelpOption();
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("Каталог данных (Measures.DB ...)"),
                                  QStringLiteral("dir"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("Строка подключения libpq"), QStringLiteral("conninfo"));
    parser.addOption(from);
    parser.addOption(to);
    parser.process(app);
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!parser.isSet(from) || !parser.isSet(to)) {
        err << parser.helpText();
        return 2;
    }
    {
        const Result<QList<TableCopy>> copied =
            copyDataDirToServer(parser.value(from), StoreConnection::fromConnInfo(parser.value(to)));
        if (!copied) {
            err << "ruvo-migrate: " << copied.errorText() << "\n";
            return 1;
        }
        const QList<TableCopy> &copies = copied.value;
        qint64 total = 0;
        for (const TableCopy &c : copies) {
            if (c.read < 0)
                out << c.table << ": нет файла\n";
            else
                out << c.table << ": прочитано " << c.read << ", скопировано " << c.copied << "\n";
            total += c.copied;
        }
        out << (total == 0 ? QStringLiteral("Новых записей нет\n") : QStringLiteral("Скопировано записей: %1\n").arg(total));
    }
    return 0;
}

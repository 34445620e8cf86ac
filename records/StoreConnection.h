#pragma once
// Where the records are kept: the embedded SQLite files of the data
// directory (the default) or a PostgreSQL database on a server. The
// password is never part of it: libpq reads it from ~/.pgpass, the file
// PGPASSFILE names, or the file given here (which libpq uses only when no
// one but its owner can read it).

#include <QString>

struct StoreConnection {
    QString driver = QStringLiteral("QSQLITE");  // "QSQLITE" or "QPSQL"
    QString host;                                // a name, an address or a socket directory
    int port = 5432;
    QString database;
    QString user;
    QString sslMode;       // libpq's sslmode (disable, prefer, require, verify-full ...); empty: libpq's default
    QString passwordFile;  // empty: ~/.pgpass or PGPASSFILE
    QString schema;        // the tables' schema; empty: the user's default search path
    QString serviceRole = QStringLiteral("ruvo_service");  // its members may use the dosimeter's service

    bool server() const { return driver == QLatin1String("QPSQL"); }
    // The options handed to the driver beside host, port, database and user.
    QString connectOptions() const;
    // What was tried, for a message: "сервер host:port, база name, пользователь user".
    QString describe() const;

    // Parses libpq's "key=value key=value" form (host, port, dbname, user,
    // sslmode, passfile); unknown keys are ignored. The driver is QPSQL.
    static StoreConnection fromConnInfo(const QString &text);
};

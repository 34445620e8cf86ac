#pragma once
// The section [Database] of the settings file: where the records are kept.
//   Driver=QSQLITE|QPSQL   (QSQLITE, the data directory's files, when missing)
//   Host=, Port=5432, Name=, User=, SslMode=, Schema=
//   ServiceRole=ruvo_service  the role whose members may use the dosimeter's service
//   PasswordFile=          a file only its owner can read, in ~/.pgpass's form;
//                          empty: ~/.pgpass or the file PGPASSFILE names
// No password is ever read from the settings file.

#include "records/StoreConnection.h"

class IniFile;

StoreConnection databaseSettings(const IniFile &ini);

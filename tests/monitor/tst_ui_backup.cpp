// "Резервная копия...": the window copies in the background and reports what
// it copied, its choices go to the settings file, and the daily backup runs
// by itself once a day while a folder is set.

#include "UiFixture.h"
#include "ViewFixture.h"

#include "core/AppState.h"
#include "core/TextCode.h"
#include "core/BackupSettings.h"
#include "core/IniFile.h"
#include "records/DataBackup.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

class TestUiBackup : public QObject {
    Q_OBJECT
private slots:
    void windowCopiesAndReports();
    void dailyBackupOncePerDay();
};

void TestUiBackup::windowCopiesAndReports()
{
    ViewDb db;
    QVERIFY(db.open());
    db.addMany(30);
    appState().eventsLogEnabled = true;
    QTemporaryDir target;
    FaceRig rig;
    const QString ini = db.dir.filePath(QStringLiteral("RUVO.INI"));
    rig.face.setSettingsPath(ini);

    QString report;
    QString status;
    db.prompt.dialogs[QStringLiteral("BackupWindow")] = [&](QObject *o) {
        auto *w = qobject_cast<QWidget *>(o);
        w->show();
        control<QLineEdit>(*w, "BackupFolder")->setText(target.path());
        control<QSpinBox>(*w, "BackupKeep")->setValue(3);
        control<QPushButton>(*w, "BackupStart")->click();
        // The window stays live while the copy runs in its own thread.
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!rig.face.backupRunner().running(), 20000); }();
        QCoreApplication::processEvents();
        report = control<QPlainTextEdit>(*w, "BackupReport")->toPlainText();
        status = control<QLabel>(*w, "BackupStatus")->text();
        if (qEnvironmentVariableIsSet("RUVO_BACKUP_SHOT"))
            w->grab().save(qEnvironmentVariable("RUVO_BACKUP_SHOT"));
        return 0;
    };
    rig.face.findChild<QAction *>(QStringLiteral("actBackup"))->trigger();

    QCOMPARE(status, QStringLiteral("Копия создана и проверена"));
    QVERIFY2(report.contains(QStringLiteral("Measures.DB: записей 30")), qPrintable(report));
    QCOMPARE(backupFolders(target.path()).size(), 1);
    const BackupSettings s = readBackupSettings(ini);
    QCOMPARE(s.folder, target.path());
    QCOMPARE(s.keep, 3);
    QCOMPARE(s.lastCopy.date(), QDate::currentDate());
    QFile log(db.dir.filePath(QStringLiteral("Events.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(fromCp1251(log.readAll()).contains(QStringLiteral(">Резервная копия создана: ")));
}

void TestUiBackup::dailyBackupOncePerDay()
{
    ViewDb db;
    QVERIFY(db.open());
    db.addMany(5);
    QTemporaryDir target;
    FaceRig rig;
    const QString ini = db.dir.filePath(QStringLiteral("RUVO.INI"));
    rig.face.setSettingsPath(ini);

    // No folder: nothing happens.
    rig.face.checkDailyBackup();
    QVERIFY(!rig.face.backupRunner().running());

    BackupSettings s;
    s.folder = target.path();
    s.lastCopy = QDateTime::currentDateTime().addDays(-1);
    writeBackupSettings(ini, s);
    rig.face.checkDailyBackup();
    QVERIFY(rig.face.backupRunner().running());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.face.backupRunner().running(), 20000);
    QCOMPARE(backupFolders(target.path()).size(), 1);
    QCOMPARE(readBackupSettings(ini).lastCopy.date(), QDate::currentDate());

    // Made today: the next checks leave it.
    rig.face.checkDailyBackup();
    QVERIFY(!rig.face.backupRunner().running());
    QVERIFY(!dailyBackupDue(readBackupSettings(ini), QDateTime::currentDateTime()));
    QVERIFY(dailyBackupDue(readBackupSettings(ini), QDateTime::currentDateTime().addDays(1)));
}

QTEST_MAIN(TestUiBackup)
#include "tst_ui_backup.moc"

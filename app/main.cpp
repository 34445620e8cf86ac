// The program entry: one copy per user, the settings, the link set up from
// them, then the main window with the link settings window and the database
// module, in this order, for the whole run.

#include "core/AppState.h"
#include "core/Errors.h"
#include "core/LogFiles.h"
#include "core/Platform.h"
#include "core/Prompt.h"
#include "link/LinkSettingsBinding.h"
#include "link/SerialLink.h"
#include "core/IniFile.h"
#include "core/LinkSettings.h"
#include "core/Settings.h"
#include "core/SettingsStartup.h"
#include "monitor/core/DatabaseSettings.h"
#include "monitor/core/SyncEngine.h"
#include "monitor/ui/LinkSettingsWindow.h"
#include "monitor/ui/MainWindow.h"
#include "monitor/ui/WidgetPrompt.h"
#include "service/ui/AboutBox.h"
#include "records/ReadingStore.h"
#include "records/DataModule.h"
#include "records/StoreRights.h"

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QPointer>
#include <QTextStream>
#include <QTimer>
#include <clocale>

int main(int argc, char **argv)
{
    keepLocalTimeZone();
    QApplication app(argc, argv);
    // The decimal separator is "." for the whole run, whatever the system says.
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());
    app.setProperty("ruvoTitle", QStringLiteral("RUVO-Монитор"));
    // The version the build was configured with; the about box shows it.
    QCoreApplication::setApplicationVersion(AboutBox::builtVersion());
    WidgetPrompt::installStandardTexts();  // standard buttons and dialogs in Russian

    WidgetPrompt prompt;
    setPrompt(&prompt);

    SingleInstanceLock lock(QStringLiteral("RUVO"));
    if (!lock.acquire()) {
        activePrompt().message(MsgKind::Information, QStringLiteral("Одна копия программы \"RUVO - Монитор\" уже запущена"),
                         PromptButton::Cancel);
        setPrompt(nullptr);
        return 0;
    }

    // The tables and logs stay next to the program file where it can be
    // written; an installed program keeps them in the user's data directory.
    const QString settingsPath = settingsFilePath(QCoreApplication::applicationFilePath());
    const IniFile settingsAtStart(settingsPath);
    const DataPlace place =
        chooseDataPlace(QCoreApplication::applicationFilePath(), qEnvironmentVariable("RUVO_PROGRAM_DIR"),
                        settingsAtStart.readString(SectionPaths, KeyDataDir));
    const QString note = applyStartup(appState(), QCoreApplication::applicationFilePath(), app.arguments(), place.dir);
    if (place.reason != DataPlaceReason::ProgramDirectory && !QDir().mkpath(appState().programDir))
        activePrompt().message(MsgKind::Error,
                               QStringLiteral("Не удалось создать каталог данных %1")
                                   .arg(QDir::toNativeSeparators(appState().programDir)),
                               PromptButton::Ok);
    logEvent(dataPlaceText(place));

    int result = 0;
    {
        // The one link to the reader for the whole run: it follows the link
        // settings (the settings window edits them), the engine talks over it.
        SerialLink link;
        LinkSettings linkSettings;
        followLinkSettings(link, linkSettings);
        SyncEngine engine;
        MainWindow face(note);
        prompt.setParent(&face);
        face.setEngine(&engine);
        engine.setView(&face);
        // The operator is asked and told through the one prompt of the run.
        face.setPrompt(&prompt);
        engine.setPrompt(&prompt);
        face.setSettingsPath(settingsPath);
        // SIGTERM and SIGINT close the window the ordinary way: the position
        // and the settings are saved as at any close.
        QPointer<MainWindow> faceToClose(&face);
        onTerminationSignal([faceToClose] {
            if (faceToClose)
                faceToClose->close();
        });

        face.setLinkSettingsWindow(new LinkSettingsWindow(linkSettings, &face));
        engine.setLink(&link);

        DataModule dm;
        dm.setConnection(databaseSettings(IniFile(settingsPath)));
        // A server out of reach at start is waited for: the readings wait in
        // the buffer, as when it goes away later, not in the local files.
        dm.setWaitForServer(true);
        setDataModule(&dm);
        if (const Result<> created = dm.dataModuleCreate(toldBy(activePrompt())); !created)
            tell(activePrompt(), *created.error);
        if (dm.terminateRequested()) {
            setDataModule(nullptr);
            setPrompt(nullptr);
            return 1;
        }
        engine.setDatabase(&dm);
        face.bindMeasures(&dm.measures());
        face.setStoreRights(storeRights(dm));

        // A run for a fixed time (the demo without a display): the window then
        // closes itself the ordinary way and reports what the database holds.
        bool exitOk = false;
        const int exitAfter = qEnvironmentVariableIntValue("RUVO_EXIT_AFTER_MS", &exitOk);
        if (exitOk && exitAfter > 0) {
            QTimer::singleShot(exitAfter, &face, &QWidget::close);
            face.setBeforeDatabaseClose([&dm]() {
                qint64 count = -1;
                try {
                    count = ReadingStore(dm).readingCount();
                } catch (const ERuvoError &) {
                }
                QTextStream(stdout) << "RUVO: Measures holds " << count << " readings in " << dm.dataDir()
                                    << Qt::endl;
            });
        }

        // The stored link settings, read just before the window starts the
        // cycle (as the window's own values are, at its first showing).
        linkSettings.read(settingsAtStart);
        face.show();
        result = app.exec();
        prompt.setParent(nullptr);
        setDataModule(nullptr);
    }
    setPrompt(nullptr);
    return result;
}

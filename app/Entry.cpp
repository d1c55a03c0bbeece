#include "app/Entry.h"

#include "app/Application.h"
#include "app/Monitor.h"
#include "notices/Rztext.h"
#include "notices/Statistic.h"
#include "platform/Instance.h"
#include "platform/Registry.h"
#include "settings/Login.h"
#include "settings/Settings.h"
#include "traffic/Shutdown.h"

#include <QMessageBox>

#include <sys/resource.h>

namespace {

struct Message
{
    quint32 wParam;
    qint32 lParam;
};

struct Switch
{
    const char *word;
    Message messages[2];
    int count;
};

const Switch Switches[] = {
    {"/LOGIN", {{0, 0}}, 1}, {"/LOGOUT", {{1, 0}}, 1}, {"/RELOGIN", {{1, 0}, {0, 0}}, 2},
    {"/SHOW", {{2, 1}}, 1},  {"/HIDE", {{2, 0}}, 1},
};

// Only the first instance is a form; its creation order is the one every other part relies on.
template <typename Form> void CreateForm(Form *&global)
{
    global = new Form();
}

} // namespace

namespace Entry {

int SwitchIndex(const QByteArray &commandLine)
{
    int start = 0;
    while (start < commandLine.size() && commandLine[start] == ' ')
        ++start;
    int end = commandLine.indexOf(' ', start);
    if (end < 0)
        end = int(commandLine.size());
    const QByteArray word = commandLine.mid(start, end - start);
    for (int i = 0; i < int(std::size(Switches)); ++i) {
        if (qstricmp(word.constData(), Switches[i].word) == 0 &&
            word.size() == qsizetype(qstrlen(Switches[i].word)))
            return i;
    }
    return -1;
}

QByteArray CommandLine(int argc, char **argv)
{
    QByteArray line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += argv[i];
    }
    return line;
}

} // namespace Entry

int ForwardCommand(Instance &window, QByteArray &commandLine)
{
    const int index = Entry::SwitchIndex(commandLine);
    // The first word ends the text, as the receiving side never looks further.
    int start = 0;
    while (start < commandLine.size() && commandLine[start] == ' ')
        ++start;
    const int end = commandLine.indexOf(' ', start);
    if (end >= 0)
        commandLine.truncate(end);

    if (index < 0) {
        QApplication::beep();
        QMessageBox box(QMessageBox::Information, QStringLiteral("ZEPA-Monitor"),
                        QString::fromUtf8(Entry::AlreadyRunningText), QMessageBox::Ok);
        box.exec();
        return 0;
    }
    const Switch &s = Switches[index];
    for (int i = 0; i < s.count; ++i) {
        if (!window.send(s.messages[i].wParam, s.messages[i].lParam))
            break;
    }
    return 0;
}

int RunProgram(int argc, char **argv)
{
    Application app(argc, argv);
    app.loadGermanTranslations();

    Instance instance;
    if (!instance.isFirst()) {
        QByteArray commandLine = Entry::CommandLine(argc, argv);
        return ForwardCommand(instance, commandLine);
    }

    // Best effort, as a nice value: a real-time class could starve the desktop.
    ::setpriority(PRIO_PROCESS, 0, -5);
    app.setInstance(&instance);
    app.installTerminationSignals();
    instance.setHandler([](quint32 wParam, qint32 lParam) {
        if (FrmMonitor)
            FrmMonitor->Dispatch(WM_MONITOR_COMMAND, wParam, lParam);
    });

    try {
        Registry &store = Registry::instance();
        if (!store.movedAsidePath().isEmpty()) {
            ShowMessageBox(QMessageBox::Warning, QMessageBox::Ok,
                           QStringLiteral("Die gespeicherten Einstellungen waren beschädigt und wurden "
                                          "beiseitegelegt:\n%1\n\nZEPA-Monitor beginnt mit leeren "
                                          "Einstellungen.")
                               .arg(store.movedAsidePath()));
        }
        CreateForms();
        // After a fatal start-up error nothing goes over the network any more.
        if (!FrmMonitor->StartupFailed() && !app.terminationRequested()) {
            FrmMonitor->SetFormsReady();
            FrmSettings->ApplyAtStart();
            FrmRZText->CheckAtStart();
        }
        app.runMessageLoop();
    } catch (const RegistryError &error) {
        Application::showException(error.message());
    } catch (const std::exception &error) {
        Application::showException(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        Application::showException(QString());
    }

    EndForms();
    return 0;
}

void CreateForms()
{
    // The order every other part relies on; a form that throws leaves the ones after it uncreated.
    FrmMonitor = new TFrmMonitor();
    FrmSettings = new TFrmSettings();
    FrmLogin = new TFrmLogin();
    FrmRZText = new TFrmRZText();
    FrmShutdown = new TFrmShutdown();
    FrmStatistic = new TFrmStatistic();
}

void EndForms()
{
    if (FrmMonitor)
        FrmMonitor->FormDestroy();
    delete FrmStatistic;
    delete FrmShutdown;
    delete FrmRZText;
    delete FrmLogin;
    delete FrmSettings;
    delete FrmMonitor;
    FrmStatistic = nullptr;
    FrmShutdown = nullptr;
    FrmRZText = nullptr;
    FrmLogin = nullptr;
    FrmSettings = nullptr;
    FrmMonitor = nullptr;
}

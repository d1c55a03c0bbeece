#include "app/Application.h"

#include "platform/Registry.h"

#include <QDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QSocketNotifier>
#include <QTranslator>

#include <csignal>
#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

std::function<QMessageBox::StandardButton(QMessageBox::Icon, const QString &)> &hook()
{
    static std::function<QMessageBox::StandardButton(QMessageBox::Icon, const QString &)> fn;
    return fn;
}

bool showingException = false;

} // namespace

void MessageBoxForTesting::setHook(
    std::function<QMessageBox::StandardButton(QMessageBox::Icon, const QString &)> fn)
{
    hook() = std::move(fn);
}

QMessageBox::StandardButton ShowMessageBox(QMessageBox::Icon kind, QMessageBox::StandardButtons buttons,
                                           const QString &text)
{
    if (hook())
        return hook()(kind, text);
    QMessageBox box(kind, QStringLiteral("ZEPA-Monitor"), text, buttons);
    box.setTextFormat(Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

Application::Application(int &argc, char **argv) : QApplication(argc, argv)
{
    // The pictures live in the static library, whose resources are not registered by themselves.
    Q_INIT_RESOURCE(resources);
    setApplicationName(QStringLiteral("ZEPA-Monitor"));
    setApplicationDisplayName(QStringLiteral("ZEPA-Monitor"));
    setQuitOnLastWindowClosed(false);
    // Once, before any exchange: the in-process test servers use OpenSSL too.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // A server that closes early must end an exchange, not the program.
    std::signal(SIGPIPE, SIG_IGN);
}

Application::~Application() = default;

Application *Application::get()
{
    return qobject_cast<Application *>(QCoreApplication::instance());
}

void Application::loadGermanTranslations()
{
    auto *translator = new QTranslator(this);
    if (translator->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(translator);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

void Application::installTerminationSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &Application::onSignal);
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

void Application::onSignal()
{
    char buffer[16];
    [[maybe_unused]] const auto got = ::read(signalPipe[0], buffer, sizeof buffer);
    requestTermination();
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const RegistryError &error) {
        showException(error.message());
    } catch (const std::exception &error) {
        showException(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        showException(QString());
    }
    return false;
}

void Application::showException(const QString &message)
{
    if (showingException || hook()) {
        if (hook())
            hook()(QMessageBox::Critical, message);
        return;
    }
    showingException = true;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("ZEPA-Monitor"), message, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    showingException = false;
}

void Application::requestTermination()
{
    if (m_terminationRequested)
        return;
    m_terminationRequested = true;
    m_exchangesAborted = !m_exiting;
    // Dialogs close as cancelled; exit() then ends every running loop, the nested ones first.
    const auto widgets = topLevelWidgets();
    for (QWidget *widget : widgets) {
        auto *dialog = qobject_cast<QDialog *>(widget);
        if (dialog && dialog->isVisible())
            dialog->reject();
    }
    if (m_inLoop)
        exit(0);
}

void Application::beginExit()
{
    m_exiting = true;
    m_exchangesAborted = false;
}

int Application::runMessageLoop()
{
    if (m_terminationRequested)
        return 0;
    m_inLoop = true;
    const int code = exec();
    m_inLoop = false;
    return code;
}

void Application::resetForTesting()
{
    m_terminationRequested = false;
    m_exchangesAborted = false;
    m_exiting = false;
}

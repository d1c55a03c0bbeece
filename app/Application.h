#pragma once

#include <QApplication>
#include <QMessageBox>
#include <functional>

class Instance;

// The application object: the default error display for the registry layer's errors, and the
// program's end, which SIGTERM and the session's end request like "Beenden".
class Application : public QApplication
{
    Q_OBJECT
public:
    Application(int &argc, char **argv);
    ~Application() override;

    static Application *get();

    bool notify(QObject *receiver, QEvent *event) override;

    // The default error display; one box at a time, so a repeating error never piles up boxes.
    static void showException(const QString &message);

    // Ends the message loop (or keeps it from starting), closes an open dialog as cancelled and makes
    // running exchanges fail. The exit sequence runs afterwards, outside all of them.
    void requestTermination();
    bool terminationRequested() const { return m_terminationRequested; }
    // True while exchanges are to give up: from the request until the exit sequence begins.
    bool exchangesAborted() const { return m_exchangesAborted; }
    // The exit sequence has begun: commands are answered without being carried out.
    void beginExit();
    bool exiting() const { return m_exiting; }
    bool inMessageLoop() const { return m_inLoop; }

    int runMessageLoop();
    // Tests build and end the forms many times in one process.
    void resetForTesting();

    void setInstance(Instance *instance) { m_instance = instance; }
    Instance *instance() const { return m_instance; }

    void installTerminationSignals();
    void loadGermanTranslations();

private:
    void onSignal();

    Instance *m_instance = nullptr;
    bool m_terminationRequested = false;
    bool m_exchangesAborted = false;
    bool m_exiting = false;
    bool m_inLoop = false;
};

// The modal message dialog; the text is shown as it is, whatever it contains.
QMessageBox::StandardButton ShowMessageBox(QMessageBox::Icon kind, QMessageBox::StandardButtons buttons,
                                           const QString &text);

namespace MessageBoxForTesting {
// While set, message boxes are not shown: the hook gets the text and gives the answer.
void setHook(std::function<QMessageBox::StandardButton(QMessageBox::Icon, const QString &)> hook);
} // namespace MessageBoxForTesting

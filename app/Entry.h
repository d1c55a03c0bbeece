#pragma once

#include <QByteArray>
#include <QString>

class Instance;

namespace Entry {

inline constexpr const char *AlreadyRunningText =
    "ZEPA-Monitor läuft schon im Hintergrund.\n\nFolgende Parameter können jetzt in\nder Kommandozeile "
    "genutzt werden.\n\n/LOGIN\n/LOGOUT\n/RELOGIN\n/SHOW\n/HIDE";

// The switch that the first word of a command line names: its index in
// "/LOGIN", "/LOGOUT", "/RELOGIN", "/SHOW", "/HIDE", or -1.
int SwitchIndex(const QByteArray &commandLine);

// The command line as the program got it, without the program's own name.
QByteArray CommandLine(int argc, char **argv);

} // namespace Entry

// Sends the messages of the command line's switch to the first instance, each only after the one before
// was carried out; beeps and explains the switches when there is none. Returns 0.
int ForwardCommand(Instance &window, QByteArray &commandLine);

// The six forms in their order; the exit sequence once, then the forms go.
void CreateForms();
void EndForms();

// The whole program: returns the exit code, 0 on every path.
int RunProgram(int argc, char **argv);

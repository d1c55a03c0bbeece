#pragma once

#include <QString>

// The desktop's autostart entry ($XDG_CONFIG_HOME/autostart/ZEPA_Monitor.desktop).
namespace Autostart {

QString entryPath();
bool exists();
// Writes the entry that starts `program` with no switch; false when the folder cannot be written.
bool write(const QString &program);
// A missing entry is no error.
bool remove();
// The Exec= value for a program path, quoted as the Desktop Entry format requires.
QString execValue(const QString &program);

} // namespace Autostart

#include "platform/Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace Autostart {

QString entryPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart/ZEPA_Monitor.desktop");
}

bool exists()
{
    return QFile::exists(entryPath());
}

QString execValue(const QString &program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`=%");
    bool quote = false;
    for (QChar c : program)
        quote = quote || reserved.contains(c);
    QString value = program;
    if (quote) {
        QString escaped;
        for (QChar c : program) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                escaped += QLatin1Char('\\');
            escaped += c;
        }
        value = QLatin1Char('"') + escaped + QLatin1Char('"');
    }
    // The key file format escapes backslashes once more; "%" is a field code unless doubled.
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    value.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return value;
}

bool write(const QString &program)
{
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=ZEPA-Monitor\n"
                                        "Comment=Verkehrszähler und Login für das ZEPA-Netz\n"
                                        "Icon=zepa-monitor\nExec=%1\nTerminal=false\n")
                             .arg(execValue(program));
    file.write(text.toUtf8());
    return file.commit();
}

bool remove()
{
    const QString path = entryPath();
    return !QFile::exists(path) || QFile::remove(path);
}

} // namespace Autostart

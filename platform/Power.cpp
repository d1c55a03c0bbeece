#include "platform/Power.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace Power {

bool request(unsigned mode)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"),
        mode == PowerOff ? QStringLiteral("PowerOff") : QStringLiteral("Reboot"));
    // false: not interactive, so logind asks no password and no application is closed by force.
    call << false;
    const QDBusMessage answer = QDBusConnection::systemBus().call(call, QDBus::Block, 10000);
    return answer.type() == QDBusMessage::ReplyMessage;
}

} // namespace Power

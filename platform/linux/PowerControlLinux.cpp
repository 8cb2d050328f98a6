#include "platform/PowerControl.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

namespace corva::platform {

namespace {

QDBusMessage login1Call(const QString &method)
{
    // createMethodCall does not introspect, so a missing logind costs nothing up front.
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
                                          QStringLiteral("/org/freedesktop/login1"),
                                          QStringLiteral("org.freedesktop.login1.Manager"), method);
}

// A logind "sleep" inhibitor: held as long as its file descriptor stays open.
class LogindInhibitor final : public SleepInhibitor
{
public:
    void Acquire() override
    {
        if (m_held)
            return;
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected())
            return;
        QDBusMessage call = login1Call(QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep:idle") << QStringLiteral("corvad")
             << QStringLiteral("正在压缩影片") << QStringLiteral("block");
        const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return;
        m_fd = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst());
        m_held = m_fd.isValid();
    }
    void Release() override
    {
        m_fd = QDBusUnixFileDescriptor(); // closing our copy ends the inhibition
        m_held = false;
    }
    bool Held() const override { return m_held; }

private:
    QDBusUnixFileDescriptor m_fd;
    bool m_held = false;
};

} // namespace

void ShutdownComputer(bool force)
{
    // logind's PowerOff switches the machine off; closing programs is its own affair,
    // so the force flag has no counterpart here.
    Q_UNUSED(force);
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = login1Call(QStringLiteral("PowerOff"));
    call << false; // not interactive
    bus.asyncCall(call);
}

SleepInhibitor *SystemSleepInhibitor()
{
    static LogindInhibitor inhibitor;
    return &inhibitor;
}

} // namespace corva::platform

#include "encoder/ShutdownCountdown.h"

#include <QMessageBox>

#include <utility>

namespace corva {

ShutdownCountdown::ShutdownCountdown(std::function<void(bool)> shutdown, int intervalMs, QObject *parent)
    : QObject(parent), m_shutdown(std::move(shutdown))
{
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &ShutdownCountdown::tick);
}

ShutdownCountdown::~ShutdownCountdown()
{
    delete m_box;
}

QString ShutdownCountdown::Text(int seconds)
{
    return QStringLiteral("压缩任务已全部完成，电脑将在%1秒后自动关机。").arg(seconds);
}

void ShutdownCountdown::Start(QWidget *window, const QString &title, int seconds)
{
    Cancel();
    m_left = seconds;
    m_box = new QMessageBox(QMessageBox::NoIcon, title, Text(m_left), QMessageBox::NoButton, window);
    m_box->setAttribute(Qt::WA_DeleteOnClose);
    m_box->setWindowModality(Qt::NonModal);
    // The button, Esc and the close box all end the countdown.
    m_box->addButton(QStringLiteral("取消关机"), QMessageBox::RejectRole);
    connect(m_box, &QMessageBox::finished, this, [this] {
        if (m_timer.isActive()) {
            m_timer.stop();
            Q_EMIT Cancelled();
        }
    });
    m_box->show();
    m_timer.start();
}

void ShutdownCountdown::Cancel()
{
    const bool wasRunning = m_timer.isActive();
    m_timer.stop();
    if (m_box) {
        m_box->disconnect(this);
        m_box->close();
    }
    if (wasRunning)
        Q_EMIT Cancelled();
}

void ShutdownCountdown::tick()
{
    --m_left;
    if (m_left > 0) {
        if (m_box)
            m_box->setText(Text(m_left));
        return;
    }
    m_timer.stop();
    if (m_box) {
        m_box->disconnect(this);
        m_box->close();
    }
    m_shutdown(true);
}

} // namespace corva

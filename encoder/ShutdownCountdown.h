#pragma once

#include <QObject>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>

class QMessageBox;
class QWidget;

namespace corva {

// The last word before the machine is switched off: a box that counts down and offers
// to cancel, so nobody loses unsaved work in other programs without warning.
class ShutdownCountdown final : public QObject
{
    Q_OBJECT
public:
    ShutdownCountdown(std::function<void(bool)> shutdown, int intervalMs, QObject *parent = nullptr);
    ~ShutdownCountdown() override;

    void Start(QWidget *window, const QString &title, int seconds = 60);
    void Cancel();
    bool Running() const { return m_timer.isActive(); }
    int SecondsLeft() const { return m_left; }
    QMessageBox *Box() const { return m_box; }

    static QString Text(int seconds);

Q_SIGNALS:
    void Cancelled();

private:
    void tick();

    std::function<void(bool)> m_shutdown;
    QTimer m_timer;
    QPointer<QMessageBox> m_box;
    int m_left = 0;
};

} // namespace corva

#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace corva::test {

// Answers the message boxes a test provokes, so none is ever left waiting. Each box's text is
// recorded, then the box is closed with the button `answer` (for a QMessageBox) or rejected.
class ModalAnswerer final : public QObject
{
public:
    explicit ModalAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok)
        : m_answer(answer)
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start();
    }

    void SetAnswer(QMessageBox::StandardButton answer) { m_answer = answer; }
    const QStringList &Texts() const { return m_texts; }
    const QStringList &Titles() const { return m_titles; }
    QList<QMessageBox::Icon> Icons() const { return m_icons; }
    void Clear() { m_texts.clear(); m_titles.clear(); m_icons.clear(); }

private:
    void poll()
    {
        QWidget *w = QApplication::activeModalWidget();
        if (!w)
            return;
        if (auto *box = qobject_cast<QMessageBox *>(w)) {
            m_texts << box->text();
            m_titles << box->windowTitle();
            m_icons << box->icon();
            if (QAbstractButton *b = box->button(m_answer))
                b->click();
            else
                box->reject();
            return;
        }
        if (auto *dialog = qobject_cast<QDialog *>(w))
            dialog->reject();
    }

    QTimer m_timer;
    QMessageBox::StandardButton m_answer;
    QStringList m_texts;
    QStringList m_titles;
    QList<QMessageBox::Icon> m_icons;
};

} // namespace corva::test

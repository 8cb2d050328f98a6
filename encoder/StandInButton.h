#pragma once

#include <QPushButton>

namespace corva {

// A plain push button with the caption / Enabled / Click surface the window relies on.
class StandInButton final : public QPushButton
{
    Q_OBJECT
public:
    explicit StandInButton(QWidget *parent = nullptr) : QPushButton(parent)
    {
        setFocusPolicy(Qt::StrongFocus);
        setAutoDefault(false);
        connect(this, &QPushButton::clicked, this, &StandInButton::Click);
    }
    QString Caption() const { return text(); }
    void SetCaption(const QString &caption) { setText(caption); }
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool enabled) { setEnabled(enabled); }

Q_SIGNALS:
    void Click();
};

// Stand-in for the small title-bar and help buttons.
class StandInSmallButton final : public QPushButton
{
    Q_OBJECT
public:
    explicit StandInSmallButton(const QString &glyph, QWidget *parent = nullptr) : QPushButton(glyph, parent)
    {
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(21, 21);
        connect(this, &QPushButton::clicked, this, &StandInSmallButton::Click);
    }
    int Value() const { return m_value; }
    void SetValue(int value) { m_value = value; }
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool enabled) { setEnabled(enabled); }

Q_SIGNALS:
    void Click();

private:
    int m_value = 0;
};

} // namespace corva

#pragma once

#include "widgets/SkinStrip.h"
#include "widgets/SmallGlyphButton.h"

#include <array>

namespace vantel_xp {

class PropertyBag;

// A 21 x 21 window-control button inside a window's client area: close, maximise, minimise
// or restore by Value, each with normal, hover, pressed and disabled cells shown unscaled.
// Its events pass arguments by reference; connect directly (see xpcmdbutton).
class xptopbuttons final : public SmallGlyphButton
{
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(int Value READ Value WRITE SetValue)

public:
    explicit xptopbuttons(QWidget *parent = nullptr);
    ~xptopbuttons() override;

    // 0 close, 1 maximise, 2 minimise, 3 restore; any other value keeps the glyph shown.
    int Value() const { return m_value; }
    void SetValue(int value);

    void InitProperties();
    void ReadProperties(const PropertyBag &bag);
    void WriteProperties(PropertyBag &bag) const;

Q_SIGNALS:
    void Click();
    void MouseOut();
    void MouseDown(short &Button, short &Shift, float &X, float &Y);
    void MouseMove(short &Button, short &Shift, float &X, float &Y);
    void MouseUp(short &Button, short &Shift, float &X, float &Y);
    void PropertyChanged(const QString &name);

protected:
    const SkinStrip &Strip() const override { return m_strips[static_cast<std::size_t>(m_glyphIndex)]; }
    float ToEventUnits(double pixels) const override { return static_cast<float>(pixels); }
    QSizeF EventArea() const override { return size(); }
    // The normal cell as soon as the button is let go, until a move brings hover back.
    bool NormalOnRelease() const override { return true; }
    bool NormalOnClick() const override { return false; }
    void ApplyEnabledLook() override;

    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void ShowGlyph();

    std::array<SkinStrip, 4> m_strips;
    int m_value = 0;
    short m_glyphIndex = 0;
    bool m_lastEnabled = true;
};

} // namespace vantel_xp

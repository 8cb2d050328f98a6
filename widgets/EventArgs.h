#pragma once

#include <QString>
#include <Qt>

namespace vantel_xp {

// The argument conventions of the buttons' events: button and modifier masks, key codes and
// character codes as the hosts of these widgets expect them.
class EventArgs final
{
public:
    // 1 primary, 2 secondary, 4 middle, summed.
    static short ButtonMask(Qt::MouseButtons buttons);
    // 1 Shift, 2 Ctrl, 4 Alt, summed.
    static short ShiftMask(Qt::KeyboardModifiers modifiers);
    // The Windows virtual-key code of a key; 0 for a key that has none.
    static short KeyCode(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeVirtualKey);
    // The character code of one typed character: the code itself below 128, otherwise its two
    // GBK bytes as one 16-bit value (lead byte high), 0 when GBK has no such character.
    static short KeyAscii(QChar ch);
    // Edges count as inside: 0 <= x <= width and 0 <= y <= height.
    static bool Inside(double x, double y, double width, double height);
};

} // namespace vantel_xp

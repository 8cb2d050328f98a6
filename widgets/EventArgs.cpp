#include "widgets/EventArgs.h"

#include "common/Gbk.h"

#include <QByteArray>

namespace vantel_xp {

short EventArgs::ButtonMask(Qt::MouseButtons buttons)
{
    short mask = 0;
    if (buttons & Qt::LeftButton)
        mask |= 1;
    if (buttons & Qt::RightButton)
        mask |= 2;
    if (buttons & Qt::MiddleButton)
        mask |= 4;
    return mask;
}

short EventArgs::ShiftMask(Qt::KeyboardModifiers modifiers)
{
    short mask = 0;
    if (modifiers & Qt::ShiftModifier)
        mask |= 1;
    if (modifiers & Qt::ControlModifier)
        mask |= 2;
    if (modifiers & Qt::AltModifier)
        mask |= 4;
    return mask;
}

short EventArgs::KeyCode(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeVirtualKey)
{
#ifdef Q_OS_WIN
    if (nativeVirtualKey != 0)
        return static_cast<short>(nativeVirtualKey);
#else
    Q_UNUSED(nativeVirtualKey);
#endif
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return static_cast<short>((modifiers & Qt::KeypadModifier) ? 0x60 + (qtKey - Qt::Key_0) : qtKey);
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return static_cast<short>(qtKey);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return static_cast<short>(0x70 + (qtKey - Qt::Key_F1));
    switch (qtKey) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Clear: return 0x0C;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt: return 0x12;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Print: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Meta: return 0x5B;
    case Qt::Key_Menu: return 0x5D;
    case Qt::Key_Asterisk: return (modifiers & Qt::KeypadModifier) ? 0x6A : 0x38;
    case Qt::Key_Plus: return (modifiers & Qt::KeypadModifier) ? 0x6B : 0xBB;
    case Qt::Key_Minus: return (modifiers & Qt::KeypadModifier) ? 0x6D : 0xBD;
    case Qt::Key_Period: return (modifiers & Qt::KeypadModifier) ? 0x6E : 0xBE;
    case Qt::Key_Slash: return (modifiers & Qt::KeypadModifier) ? 0x6F : 0xBF;
    case Qt::Key_NumLock: return 0x90;
    case Qt::Key_ScrollLock: return 0x91;
    case Qt::Key_Semicolon:
    case Qt::Key_Colon: return 0xBA;
    case Qt::Key_Equal: return 0xBB;
    case Qt::Key_Comma:
    case Qt::Key_Less: return 0xBC;
    case Qt::Key_Underscore: return 0xBD;
    case Qt::Key_Greater: return 0xBE;
    case Qt::Key_Question: return 0xBF;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde: return 0xC0;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft: return 0xDB;
    case Qt::Key_Backslash:
    case Qt::Key_Bar: return 0xDC;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight: return 0xDD;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl: return 0xDE;
    default: return 0;
    }
}

short EventArgs::KeyAscii(QChar ch)
{
    if (ch.unicode() < 0x80)
        return static_cast<short>(ch.unicode());
    const QByteArray bytes = corva::Gbk::Encode(QString(ch));
    if (bytes.size() != 2 || bytes == QByteArrayLiteral("??"))
        return 0;
    const auto lead = static_cast<unsigned char>(bytes.at(0));
    const auto trail = static_cast<unsigned char>(bytes.at(1));
    return static_cast<short>(static_cast<quint16>((lead << 8) | trail));
}

bool EventArgs::Inside(double x, double y, double width, double height)
{
    return x >= 0 && y >= 0 && x <= width && y <= height;
}

} // namespace vantel_xp

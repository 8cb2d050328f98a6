#pragma once

class QApplication;

namespace corva {

// Start-up steps both programs take before showing a window.
class UiStartup final
{
public:
    // Maps the designs' font "宋体" (also spelt "SimSun") to a Chinese font found on Linux, and
    // loads Qt's own Simplified Chinese texts (button captions of message and file dialogs).
    // Returns false when that translation could not be loaded; the program still runs.
    static bool Apply(QApplication &app);
};

} // namespace corva

#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace corva {

// The open and save dialogs of the two browse buttons. Nothing comes back when the user
// cancelled, so a cancelled dialog can change nothing.
class JoinFileChooser
{
public:
    virtual ~JoinFileChooser() = default;
    virtual std::optional<QString> ChooseInput(QWidget *parent) = 0;
    virtual std::optional<QString> ChooseOutput(QWidget *parent) = 0;
};

} // namespace corva

#pragma once

#include "joiner/JoinFileChooser.h"

#include <QStringList>

namespace corva {

// Both dialogs share one filter list and one file name: each dialog starts from the name
// last chosen in either.
class QtJoinFileChooser final : public JoinFileChooser
{
public:
    // "所有文件", "rm", "rmvb", in this order.
    static QStringList Filters();

    std::optional<QString> ChooseInput(QWidget *parent) override;
    std::optional<QString> ChooseOutput(QWidget *parent) override;

    const QString &FileName() const { return m_fileName; }

private:
    std::optional<QString> choose(QWidget *parent, bool save);

    QString m_fileName;
};

} // namespace corva

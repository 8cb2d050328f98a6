#pragma once

#include "joiner/JoinFileChooser.h"
#include "joiner/JoinerWindow.h"

#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace corva::test {

// Hands out prepared answers instead of opening dialogs; a null text or an empty queue
// answers "cancelled".
class FakeChooser final : public JoinFileChooser
{
public:
    std::deque<QString> inputs;
    std::deque<QString> outputs;
    int asked = 0;

    std::optional<QString> ChooseInput(QWidget *) override { return next(inputs); }
    std::optional<QString> ChooseOutput(QWidget *) override { return next(outputs); }

private:
    std::optional<QString> next(std::deque<QString> &queue)
    {
        ++asked;
        if (queue.empty())
            return std::nullopt;
        const QString answer = queue.front();
        queue.pop_front();
        if (answer.isNull())
            return std::nullopt;
        return answer;
    }
};

// A stand-in join tool: a shell script with the given body.
inline QString WriteTool(const QString &path, const QByteArray &body)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return path;
}

// A tool body that waits until the test opens `gate` (at most 30 s), so that the test decides
// when the tool ends instead of racing a sleep.
inline QByteArray WaitForGate(const QString &gate)
{
    return "i=0\nwhile [ ! -e '" + QFile::encodeName(gate) + "' ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done";
}

inline void OpenGate(const QString &gate)
{
    QFile file(gate);
    if (file.open(QIODevice::WriteOnly))
        file.close();
}

struct JoinerFixtureWindow
{
    std::shared_ptr<FakeChooser> chooser = std::make_shared<FakeChooser>();
    int ended = 0;
    int aboutShown = 0;
    std::unique_ptr<JoinerWindow> window;

    explicit JoinerFixtureWindow(const QString &toolPath = QStringLiteral("/nonexistent/jj"))
    {
        JoinerWindow::Services services;
        services.chooser = chooser;
        services.toolPath = toolPath;
        services.endProgram = [this] { ++ended; };
        services.showAbout = [this] { ++aboutShown; };
        window = std::make_unique<JoinerWindow>(std::move(services));
    }

    template <typename W = QWidget>
    W *Find(const char *name) const
    {
        return window->findChild<W *>(QString::fromLatin1(name));
    }
    QPushButton *Button(const char *name) const { return Find<QPushButton>(name); }
    QString Text(const char *name) const { return Find<QLineEdit>(name)->text(); }
    QStringList Entries() const
    {
        QStringList out;
        const auto *list = Find<QListWidget>("List1");
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text();
        return out;
    }
    void Add(const QString &path)
    {
        chooser->inputs.push_back(path);
        Button("Command1")->click();
    }
};

// Waits, handling events, until the condition holds or the time is up.
inline bool WaitFor(const std::function<bool()> &condition, int milliseconds)
{
    return QTest::qWaitFor(condition, milliseconds);
}

} // namespace corva::test

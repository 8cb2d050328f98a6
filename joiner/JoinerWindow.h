#pragma once

#include "common/AppInfo.h"
#include "joiner/JoinFileChooser.h"
#include "joiner/JoinList.h"

#include <QWidget>

#include <functional>
#include <memory>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace corva {

class LinkLabel;

// The joiner's main window, Form1: collects the files to join, the output and the clip's
// texts, and runs the join tool on them.
class JoinerWindow final : public QWidget
{
    Q_OBJECT

public:
    struct Services
    {
        std::shared_ptr<JoinFileChooser> chooser;
        QString toolPath;                  // the join tool
        std::function<void()> endProgram;  // ends the process at once, leaving the tool running
        std::function<void()> showAbout;

        // The real dialogs, AppDir/jj, the shared About box.
        static Services System();
    };

    explicit JoinerWindow(Services services, QWidget *parent = nullptr);

    // The command line of the last join started; empty before the first.
    const QString &JoinCommandLine() const { return m_joinCommandLine; }
    bool IsJoining() const { return m_joining; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Build();
    void AddInput();
    void ChooseOutput();
    void DeleteSelected();
    void ClearList();
    void StartJoin();
    void Quit();
    void Inform(const QString &text);

    Services m_services;
    AppInfo m_info = AppInfo::Joiner();
    JoinList m_list;
    QString m_joinCommandLine;
    bool m_joining = false;

    QLineEdit *m_inputFile = nullptr;
    QLineEdit *m_outputFile = nullptr;
    QLineEdit *m_text1 = nullptr;
    QLineEdit *m_text2 = nullptr;
    QLineEdit *m_text3 = nullptr;
    QListWidget *m_list1 = nullptr;
};

} // namespace corva

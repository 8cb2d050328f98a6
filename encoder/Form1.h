#pragma once

#include "encoder/CommonDialog.h"
#include "encoder/EncoderOptions.h"
#include "encoder/RunController.h"
#include "widgets/xpcmdbutton.h"
#include "widgets/xphelp.h"
#include "widgets/xptopbuttons.h"
#include "common/RunAndWait.h"
#include "common/Twips.h"

#include <QTime>

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;

namespace corva {

class EncodingEngine;
class FileChooser;
class LinkLabel;
class ShutdownCountdown;
namespace platform {
class OpticalDrives;
class SleepInhibitor;
}

using PushButton = vantel_xp::xpcmdbutton;
using TopButton = vantel_xp::xptopbuttons;
using HelpButton = vantel_xp::xphelp;

// What the main window needs from the machine, handed in so tests can stand in for it.
struct Form1Services
{
    QString appDir;                                         // the application folder
    EncodingEngine *engine = nullptr;                       // pro
    std::unique_ptr<platform::OpticalDrives> opticalDrives; // scanned once at start-up
    FileChooser *fileChooser = nullptr;                     // behind CD1
    platform::SleepInhibitor *sleepInhibitor = nullptr;     // held while a run goes on
    // Everything below has the real thing as its default.
    std::function<void(bool)> shutdownComputer;             // ShutdownComputer(force)
    std::function<void(int)> exitProcess;                   // ends the program at once
    std::function<RunResult(const QString &, int)> runTool; // RunAndWait
    std::function<QTime()> clock;                           // time of day
    std::function<void()> showAbout;                        // the About box, not modal
    int countdownIntervalMs = 1000;                         // one step of the shutdown countdown
    QString jobFileFallbackDir;                             // where the job file goes if AppDir is read-only
};

// The encoder's main window.
class Form1 final : public QWidget
{
    Q_OBJECT
public:
    explicit Form1(Form1Services services, QWidget *parent = nullptr);
    ~Form1() override;

    // The start-up sequence; false (with the reason) when no audience can be offered.
    bool Load(QString *error);

    // The window's outer height in twips (kCollapsedTwips, kAdvancedTwips or kTaskListTwips);
    // the client area shown is that height less the frame.
    int OuterHeight() const { return m_outerHeight; }
    void SetOuterHeight(int twips);

    // Reads the option widgets into a snapshot.
    EncoderOptions Snapshot() const;
    // Fills CommandLine from the widgets.
    void BuildCommandLine();

    const QString &CommandLine() const { return m_commandLine; }
    const QString &InputFilter() const { return m_inputFilter; }
    QString CdromDrives() const;
    qint16 TaskIndex() const { return static_cast<qint16>(m_run.TaskIndex()); }
    const QString &StartTime() const { return m_run.StartTime(); }
    const QString &AppDir() const { return m_services.appDir; }
    // AppDir + "/1.rpjf", or the per-user data folder where AppDir cannot be written.
    QString JobFilePath() const;

    using RunMode = RunController::Mode;
    RunMode Mode() const { return m_run.CurrentMode(); }
    // The run and its task list, which List1 (outputs) and List3 (states) show.
    const RunController &Run() const { return m_run; }
    // The file dialog behind the two browse buttons.
    const CommonDialog &FileDialog() const { return CD1; }
    // The bar's width as the progress rule computes it, before rounding to pixels.
    float BarWidth() const { return m_barWidth; }
    ShutdownCountdown *Countdown() const { return m_countdown; }

    // The checks a job must pass before it is started or queued; shows their messages.
    bool ValidateJob();
    // Runs the tool for one task and starts the engine on its job; false (with the reason
    // kept in LastLaunchError) when the tool failed and nothing was started.
    bool LaunchJob(const QString &commandLine);
    const QString &LastLaunchError() const { return m_lastLaunchError; }
    // The rule shared by the handlers that change the output name.
    void SetOutputExtension(const QString &source);
    // Selects an audience the way the program does, raising its Click as the user's choice would.
    void SelectAudience(int index);

    static constexpr int kFrameTwips = 495;
    // The start-up view ends below the status line and the progress bar (2775 twips down)
    // and above the advanced options (2880), so that the texts of a run show whole.
    static constexpr int kCollapsedTwips = 3360;
    static constexpr int kAdvancedTwips = 5580;
    static constexpr int kTaskListTwips = 7185;
    static constexpr int kTwipsPerPixel = Twips::kPerPixel;


protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The design's widgets, by their design names (also their object names).
    QLabel *Image1 = nullptr;
    LinkLabel *Label8 = nullptr;
    TopButton *xptopbuttons1 = nullptr;
    HelpButton *xphelp1 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *InputFile = nullptr;
    PushButton *xpcmdbutton1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *OutputFile = nullptr;
    PushButton *xpcmdbutton2 = nullptr;
    QLabel *Label3 = nullptr;
    QComboBox *Combo1 = nullptr;
    PushButton *xpcmdbutton3 = nullptr;
    PushButton *command3 = nullptr;
    PushButton *command8 = nullptr;
    PushButton *command4 = nullptr;
    QLabel *PBar2 = nullptr;
    QLabel *Label7 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QCheckBox *Check1 = nullptr;
    QCheckBox *Check2 = nullptr;
    QCheckBox *Check4 = nullptr;
    QCheckBox *Check3 = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *Text1 = nullptr;
    QLabel *Label5 = nullptr;
    QLineEdit *Text2 = nullptr;
    QLabel *Label6 = nullptr;
    QLineEdit *Text3 = nullptr;
    QLabel *Label9 = nullptr;
    QComboBox *Combo2 = nullptr;
    QLabel *Label10 = nullptr;
    QComboBox *Combo3 = nullptr;
    QLabel *Label11 = nullptr;
    QComboBox *Combo4 = nullptr;
    QLabel *Label12 = nullptr;
    QComboBox *Combo5 = nullptr;
    QLabel *Label14 = nullptr;
    QComboBox *Combo8 = nullptr;
    QLabel *Label16 = nullptr;
    QComboBox *Combo6 = nullptr;
    QLabel *Label17 = nullptr;
    QLineEdit *Text4 = nullptr;
    QLabel *Label15 = nullptr;
    QLineEdit *Text5 = nullptr;
    QComboBox *Combo7 = nullptr;
    PushButton *command6 = nullptr;
    QListWidget *List1 = nullptr;
    QListWidget *List3 = nullptr;
    QListWidget *List2 = nullptr;
    PushButton *command7 = nullptr;
    PushButton *command9 = nullptr;
    CommonDialog CD1;

    void createWidgets();
    void setTabOrderChain();
    void connectHandlers();

    // Handlers, by the widget events they answer.
    void command3_Click();
    void command8_Click();
    void command7_Click();
    void command9_Click();
    void command4_Click();
    void xpcmdbutton1_Click();
    void xpcmdbutton2_Click();
    void xpcmdbutton3_Click();
    void command6_Click();
    void Combo1_Click();
    void InputFile_Change();
    void OutputFile_Change();
    void pro_EncodingStarted();
    void pro_EncodingProgress(int pass, int percent);
    void pro_EncodingFinished(bool succeeded, const QString &reason);

    void launchNextTask();
    void completeBatch();
    void endRun();
    void showTaskState(int row);
    void takeTaskRows(int row);
    // Label7's text, cut with an ellipsis where it would pass the window's edge; the whole
    // text (and, after a batch, every failure) goes to its tooltip.
    void setStatus(const QString &text, const QStringList &details = {});
    void askToCancel();
    void setBarWidth(float width);
    QString now() const;

    Form1Services m_services;
    ShutdownCountdown *m_countdown = nullptr;
    RunController m_run;
    float m_barWidth = 0;
    QString m_lastLaunchError;
    int m_outerHeight = 0;
    QString m_commandLine;
    QString m_inputFilter;
};

} // namespace corva

#include "encoder/Form1.h"

#include "about/Artwork.h"
#include "common/AppInfo.h"
#include "common/AppPaths.h"
#include "common/Twips.h"
#include "encoder/AppMessageBox.h"
#include "encoder/AudienceList.h"
#include "encoder/ElapsedText.h"
#include "encoder/JobChecks.h"
#include "encoder/OutputNaming.h"
#include "encoder/ProducerCommandLine.h"
#include "encoder/ProgressText.h"
#include "encoder/ShutdownCountdown.h"
#include "widgets/HoverLinks.h"
#include "widgets/LinkLabel.h"
#include "widgets/PropertyBag.h"
#include "engine/EncodingEngine.h"
#include "platform/DriveLetterOpticalDrives.h"
#include "platform/OpticalDrives.h"
#include "platform/PathKind.h"
#include "platform/PowerControl.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace corva {

namespace {

int px(int twips)
{
    return Twips::ToPixels(twips);
}

template <typename W>
W *place(W *widget, int left, int top, int width, int height)
{
    widget->setGeometry(Twips::Rect(left, top, width, height));
    return widget;
}

// Caption text stands at the top of its box, level with the field beside it.
QLabel *label(QWidget *parent, const QString &text, int l, int t, int w, int h)
{
    QLabel *caption = place(new QLabel(text, parent), l, t, w, h);
    caption->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return caption;
}

QLineEdit *textBox(QWidget *parent, const QString &text, int l, int t, int w, int h)
{
    return place(new QLineEdit(text, parent), l, t, w, h);
}

QComboBox *dropDown(QWidget *parent, int l, int t, int w, int h)
{
    auto *combo = place(new QComboBox(parent), l, t, w, h);
    combo->setEditable(false);
    return combo;
}

QCheckBox *checkBox(QWidget *parent, const QString &text, const QString &tip, int l, int t, int w, int h)
{
    auto *box = place(new QCheckBox(text, parent), l, t, w, h);
    box->setToolTip(tip);
    return box;
}

// Each push button loads the caption and font its design stored for it.
PushButton *button(QWidget *parent, const char *name, const QString &caption, int l, int t, int w, int h)
{
    auto *b = place(new PushButton(parent), l, t, w, h);
    b->setObjectName(QString::fromLatin1(name));
    vantel_xp::PropertyBag bag;
    bag.WriteProperty(QStringLiteral("Caption"), caption, QString());
    bag.WriteProperty(QStringLiteral("Font"), QFont(QStringLiteral("宋体"), 9, QFont::Normal), QFont());
    b->ReadProperties(bag);
    return b;
}

// 0 unchecked, 1 checked, 2 grey: the values the option model counts in.
int checkValue(const QCheckBox *box)
{
    switch (box->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    case Qt::Unchecked:
        break;
    }
    return 0;
}

void fill(QComboBox *combo, const QStringList &items, int selected)
{
    combo->addItems(items);
    combo->setCurrentIndex(selected);
}

} // namespace

Form1::Form1(Form1Services services, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint),
      CD1(services.fileChooser), m_services(std::move(services))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("form1"));
    setFont(QFont(QStringLiteral("宋体"), 9));
    AppMessageBox::SetTitle(AppInfo::Encoder().Title());
    if (!m_services.shutdownComputer)
        m_services.shutdownComputer = [](bool force) { platform::ShutdownComputer(force); };
    if (!m_services.exitProcess)
        m_services.exitProcess = [](int code) {
            std::fflush(nullptr);
            std::_Exit(code);
        };
    if (!m_services.runTool)
        m_services.runTool = [](const QString &line, int style) { return RunAndWait(line, style); };
    if (!m_services.clock)
        m_services.clock = [] { return QTime::currentTime(); };
    m_countdown = new ShutdownCountdown(m_services.shutdownComputer, m_services.countdownIntervalMs, this);
    createWidgets();
    setTabOrderChain();
    connectHandlers();
    SetOuterHeight(kTaskListTwips);
}

Form1::~Form1() = default;

void Form1::createWidgets()
{
    Image1 = place(new QLabel(this), 0, 0, 10620, 1230);
    Image1->setScaledContents(true);
    Image1->setPixmap(Artwork::EncoderBanner());

    Label8 = place(new LinkLabel(QStringLiteral("关于这个软件"), this), 2520, 960, 1095, 255);
    Label8->setToolTip(QStringLiteral("About..."));
    xptopbuttons1 = place(new TopButton(this), 10200, 120, 315, 315);
    {
        vantel_xp::PropertyBag bag;
        bag.WriteProperty(QStringLiteral("value"), 2, 0);
        xptopbuttons1->ReadProperties(bag);
    }
    xphelp1 = place(new HelpButton(this), 10200, 480, 315, 315);
    xphelp1->ReadProperties(vantel_xp::PropertyBag());

    Label1 = label(this, QStringLiteral("源文件："), 120, 1320, 1215, 375);
    InputFile = textBox(this, QString(), 840, 1320, 3735, 270);
    InputFile->setToolTip(QStringLiteral("选择或者输入您准备要压缩的文件"));
    xpcmdbutton1 = button(this, "xpcmdbutton1", QStringLiteral("浏览"), 4680, 1320, 735, 255);
    Label2 = label(this, QStringLiteral("保存到："), 120, 1680, 1335, 375);
    OutputFile = textBox(this, QString(), 840, 1680, 3735, 270);
    xpcmdbutton2 = button(this, "xpcmdbutton2", QStringLiteral("浏览"), 4680, 1680, 735, 255);
    Label3 = label(this, QStringLiteral("压缩率："), 120, 2040, 735, 255);
    Combo1 = dropDown(this, 840, 2040, 2775, 300);
    Combo1->setToolTip(QStringLiteral("如果您不知道该如何选择这里，可以默认，也可以参考帮助"));
    xpcmdbutton3 = button(this, "xpcmdbutton3", QStringLiteral("高级选项 ↓"), 3720, 2040, 1695, 255);
    command3 = button(this, "command3", QStringLiteral("开始压缩"), 5640, 1560, 1455, 495);
    command8 = button(this, "command8", QStringLiteral("添加到任务列表"), 7320, 1560, 1455, 495);
    command4 = button(this, "command4", QStringLiteral("结  束"), 9000, 1560, 1455, 495);

    PBar2 = place(new QLabel(this), 120, 2400, 10320, 375);
    PBar2->setScaledContents(true);
    PBar2->setPixmap(Artwork::ProgressBar());
    Label7 = place(new QLabel(QStringLiteral("Label7"), this), 1680, 2520, 8295, 255);
    Label7->setAttribute(Qt::WA_TranslucentBackground);
    Label7->setFont(QFont(QStringLiteral("Arial"), 9));
    {
        QPalette p = Label7->palette();
        p.setColor(QPalette::WindowText, Qt::black);
        Label7->setPalette(p);
    }
    Label7->raise(); // drawn over the progress bar

    Frame1 = place(new QGroupBox(QStringLiteral("高级选项"), this), 120, 2880, 10335, 2175);
    Check1 = checkBox(Frame1, QStringLiteral("一次编码"), QStringLiteral("一次编码可以大大减少您的编码时间"), 240, 240, 1095, 375);
    Check2 = checkBox(Frame1, QStringLiteral("只要音频"), QStringLiteral("可以去掉视频文件中的视频部分，只保留音频部分"), 1440, 240, 1095, 375);
    Check4 = checkBox(Frame1, QStringLiteral("校正影片亮度"), QStringLiteral("某些影片亮度太暗，可以选此选项"), 2640, 240, 1455, 375);
    Check3 = checkBox(Frame1, QStringLiteral("完成后关机"),
                      QStringLiteral("长时间的编码，您无须守候在电脑前面，选择它编码完成后会自动关闭计算机"), 4200, 240, 1215, 375);
    Label4 = label(Frame1, QStringLiteral("标题："), 240, 720, 975, 255);
    Text1 = textBox(Frame1, QString(), 840, 720, 3255, 270);
    Label5 = label(Frame1, QStringLiteral("作者："), 240, 1080, 975, 255);
    Text2 = textBox(Frame1, QString(), 840, 1080, 3255, 270);
    Label6 = label(Frame1, QStringLiteral("版权："), 240, 1440, 975, 255);
    Text3 = textBox(Frame1, QStringLiteral("墨川压缩2005"), 840, 1440, 3255, 270);
    Label9 = label(Frame1, QStringLiteral("视频质量"), 4320, 720, 855, 375);
    Combo2 = dropDown(Frame1, 5160, 600, 1575, 300);
    Label10 = label(Frame1, QStringLiteral("音频质量"), 4320, 1080, 855, 375);
    Combo3 = dropDown(Frame1, 5160, 960, 1575, 300);
    Label11 = label(Frame1, QStringLiteral("音频采样"), 4320, 1440, 735, 255);
    Combo4 = dropDown(Frame1, 5160, 1320, 1575, 300);
    Label12 = label(Frame1, QStringLiteral("杂点去除"), 4320, 1800, 735, 255);
    Combo5 = dropDown(Frame1, 5160, 1680, 1575, 300);
    Label14 = label(Frame1, QStringLiteral("编码版本"), 6840, 360, 855, 375);
    Combo8 = dropDown(Frame1, 7680, 240, 1575, 300);
    Combo8->setToolTip(QStringLiteral("推荐采用默认的real9版本的编码，因为real10的压缩率和质量方面都有提高，但是编码时间变长了"));
    Label16 = label(Frame1, QStringLiteral("音量调节"), 6840, 720, 855, 255);
    Combo6 = dropDown(Frame1, 7680, 600, 1575, 300);
    Combo6->setToolTip(QStringLiteral("某些DVD影碟音量较小，可以调到12"));
    Label17 = label(Frame1, QStringLiteral("重设影片长宽"), 6840, 1200, 1215, 255);
    Text4 = textBox(Frame1, QStringLiteral("0"), 8040, 1080, 495, 270);
    Text4->setToolTip(QStringLiteral("如果设为0表示按原比例"));
    Label15 = label(Frame1, QStringLiteral("X"), 8520, 1080, 255, 255);
    Text5 = textBox(Frame1, QStringLiteral("0"), 8640, 1080, 495, 270);
    Text5->setToolTip(QStringLiteral("如果设为0表示按原比例"));
    Combo7 = dropDown(Frame1, 8040, 1440, 1095, 300);
    Combo7->setToolTip(QStringLiteral("重设长宽的重采样质量"));
    command6 = button(Frame1, "command6", QStringLiteral("我要压缩DVD影碟"), 7080, 1800, 2055, 255);
    command6->setToolTip(QStringLiteral("点击此按钮，会自动帮助您设置DVD的最佳压缩选项"));

    Frame2 = place(new QGroupBox(QStringLiteral("任务列表"), this), 120, 5280, 10335, 1335);
    List1 = place(new QListWidget(Frame2), 120, 240, 6255, 930);
    List3 = place(new QListWidget(Frame2), 6360, 240, 1695, 930);
    List2 = place(new QListWidget(Frame2), 3000, 0, 1695, 240);
    List2->hide();
    command7 = button(Frame2, "command7", QStringLiteral("删除"), 8520, 360, 1335, 255);
    command9 = button(Frame2, "command9", QStringLiteral("清空"), 8520, 840, 1335, 255);

    const std::pair<QWidget *, const char *> names[] = {
        {Image1, "Image1"}, {Label8, "Label8"}, {xptopbuttons1, "xptopbuttons1"}, {xphelp1, "xphelp1"},
        {Label1, "Label1"}, {InputFile, "InputFile"}, {Label2, "Label2"}, {OutputFile, "OutputFile"},
        {Label3, "Label3"}, {Combo1, "Combo1"}, {PBar2, "PBar2"}, {Label7, "Label7"}, {Frame1, "Frame1"},
        {Frame2, "Frame2"}, {Check1, "Check1"}, {Check2, "Check2"}, {Check4, "Check4"}, {Check3, "Check3"},
        {Label4, "Label4"}, {Text1, "Text1"}, {Label5, "Label5"}, {Text2, "Text2"}, {Label6, "Label6"},
        {Text3, "Text3"}, {Label9, "Label9"}, {Combo2, "Combo2"}, {Label10, "Label10"}, {Combo3, "Combo3"},
        {Label11, "Label11"}, {Combo4, "Combo4"}, {Label12, "Label12"}, {Combo5, "Combo5"},
        {Label14, "Label14"}, {Combo8, "Combo8"}, {Label16, "Label16"}, {Combo6, "Combo6"},
        {Label17, "Label17"}, {Text4, "Text4"}, {Label15, "Label15"}, {Text5, "Text5"}, {Combo7, "Combo7"},
        {List1, "List1"}, {List3, "List3"}, {List2, "List2"},
    };
    for (const auto &[widget, name] : names)
        widget->setObjectName(QLatin1String(name));
}

void Form1::setTabOrderChain()
{
    const QList<QWidget *> order = {InputFile, OutputFile, Combo1, Check1, Check2, Check3, Text1, Text2, Text3,
                                    Check4, Combo2, Combo3, Combo4, Combo5, List1, List3, Combo6, Text4, Text5,
                                    Combo7, Combo8, xpcmdbutton1, xpcmdbutton2, xpcmdbutton3, command3, command8,
                                    command4, command6, command7, command9};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order.at(i), order.at(i + 1));
}

bool Form1::Load(QString *error)
{
    // 1. The audiences; without one there is nothing to encode to.
    const QString audiPath = m_services.appDir + AppPaths::Separator() + QStringLiteral("audi.txt");
    const auto names = AudienceList::Load(audiPath, error);
    if (!names)
        return false;
    Combo1->addItems(*names);
    SelectAudience(0);
    // 2.-6.
    Check1->setCheckState(Qt::Checked);
    SetOuterHeight(kCollapsedTwips);
    setStatus(QString());
    command3->SetEnabled(false);
    command4->SetEnabled(false);
    PBar2->hide();
    // 7.
    fill(Combo2, {QStringLiteral("normal"), QStringLiteral("sharp"), QStringLiteral("smooth"), QStringLiteral("slideshow")}, 0);
    fill(Combo3, {QStringLiteral("music"), QStringLiteral("voice")}, 0);
    fill(Combo4, {QStringLiteral("fast"), QStringLiteral("high")}, 0);
    fill(Combo5, {QStringLiteral("None"), QStringLiteral("low"), QStringLiteral("high")}, 0);
    fill(Combo6, {QStringLiteral("-12"), QStringLiteral("-6"), QStringLiteral("0"), QStringLiteral("6"), QStringLiteral("12")}, 2);
    fill(Combo7, {QStringLiteral("fast"), QStringLiteral("high")}, 1);
    fill(Combo8, {QStringLiteral("rv8"), QStringLiteral("rv9"), QStringLiteral("rv10")}, 1);
    // 8.
    setWindowTitle(AppInfo::Encoder().Caption());
    // 9. ScanCdromDrives happened when the services were made: once per run.
    // 10.
    m_inputFilter = QStringLiteral("常见的VCD影碟文件DAT|*.dat|AVI 文件|*.avi|DVD 影碟文件VOB|*.vob|MPG|*.mpg|")
                    + QStringLiteral("微软的WMV|*.wmv|微软的ASF|*.asf|Quicktime的MOV文件|*.mov|")
                    + QStringLiteral("RMVB|*.rmvb|RM|*.rm|WAV音频|*.wav|所有文件|*.*");
    CD1.SetFilter(m_inputFilter);
    CD1.SetFlags(4);
    InputFile->setFocus();
    return true;
}

void Form1::SetOuterHeight(int twips)
{
    m_outerHeight = twips;
    setFixedSize(px(10590), px(twips - kFrameTwips));
}

QString Form1::CdromDrives() const
{
    return m_services.opticalDrives ? QString::fromStdString(m_services.opticalDrives->CdromDrives()) : QString();
}

QString Form1::JobFilePath() const
{
    const QString name = QStringLiteral("1.rpjf");
    if (QFileInfo(m_services.appDir).isWritable())
        return m_services.appDir + AppPaths::Separator() + name;
    // An installed copy in a read-only folder: the tool could never write the job there.
    QString dir = m_services.jobFileFallbackDir;
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(dir);
    return QDir::toNativeSeparators(dir) + AppPaths::Separator() + name;
}

EncoderOptions Form1::Snapshot() const
{
    EncoderOptions o;
    o.inputFile = InputFile->text();
    o.outputFile = OutputFile->text();
    o.title = Text1->text();
    o.author = Text2->text();
    o.copyright = Text3->text();
    o.audience = Combo1->currentText();
    o.videoModeIndex = Combo2->currentIndex();
    o.videoMode = Combo2->currentText();
    o.audioModeIndex = Combo3->currentIndex();
    o.audioMode = Combo3->currentText();
    o.singlePass = checkValue(Check1);
    o.audioOnly = checkValue(Check2);
    o.resampleIndex = Combo4->currentIndex();
    o.resample = Combo4->currentText();
    o.noiseIndex = Combo5->currentIndex();
    o.noise = Combo5->currentText();
    o.brightness = checkValue(Check4);
    o.gainIndex = Combo6->currentIndex();
    o.gain = Combo6->currentText();
    o.width = Text4->text();
    o.height = Text5->text();
    o.resizeQuality = Combo7->currentText();
    o.codec = Combo8->currentText();
    return o;
}

void Form1::BuildCommandLine()
{
    m_commandLine = ProducerCommandLine::BuildCommandLine(Snapshot(), m_services.appDir, AppPaths::Separator(), JobFilePath());
}


// ---- wiring ---------------------------------------------------------------------------------

void Form1::connectHandlers()
{
    connect(command3, &PushButton::Click, this, &Form1::command3_Click);
    connect(command8, &PushButton::Click, this, &Form1::command8_Click);
    connect(command7, &PushButton::Click, this, &Form1::command7_Click);
    connect(command9, &PushButton::Click, this, &Form1::command9_Click);
    connect(command4, &PushButton::Click, this, &Form1::command4_Click);
    connect(xpcmdbutton1, &PushButton::Click, this, &Form1::xpcmdbutton1_Click);
    connect(xpcmdbutton2, &PushButton::Click, this, &Form1::xpcmdbutton2_Click);
    connect(xpcmdbutton3, &PushButton::Click, this, &Form1::xpcmdbutton3_Click);
    connect(command6, &PushButton::Click, this, &Form1::command6_Click);
    connect(xptopbuttons1, &TopButton::Click, this, [this] { setWindowState(windowState() | Qt::WindowMinimized); });
    connect(Combo1, &QComboBox::activated, this, &Form1::Combo1_Click);
    connect(InputFile, &QLineEdit::textChanged, this, &Form1::InputFile_Change);
    connect(OutputFile, &QLineEdit::textChanged, this, &Form1::OutputFile_Change);
    InputFile->installEventFilter(this);
    OutputFile->installEventFilter(this);

    // A task's two visible rows are highlighted together; equal rows end the echo.
    connect(List1, &QListWidget::currentRowChanged, this, [this](int row) {
        if (List3->currentRow() != row)
            List3->setCurrentRow(row);
    });
    connect(List3, &QListWidget::currentRowChanged, this, [this](int row) {
        if (List1->currentRow() != row)
            List1->setCurrentRow(row);
    });

    connect(Label8, &LinkLabel::Clicked, this, [this] {
        if (m_services.showAbout)
            m_services.showAbout();
    });
    // Only the window's own background and the options frame put the link back to normal.
    auto *hover = new HoverLinks(QColor(0, 0, 255), QColor(255, 0, 0), this);
    hover->AddLink(Label8);
    hover->AddResetArea(this);
    hover->AddResetArea(Frame1);

    if (EncodingEngine *pro = m_services.engine) {
        connect(pro, &EncodingEngine::EncodingStarted, this, &Form1::pro_EncodingStarted);
        connect(pro, &EncodingEngine::EncodingProgress, this,
                [this](int pass, int percent, double, const QString &) { pro_EncodingProgress(pass, percent); });
        connect(pro, &EncodingEngine::EncodingFinished, this, &Form1::pro_EncodingFinished);
    }
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn && (watched == InputFile || watched == OutputFile)) {
        // Typing then replaces the whole path.
        auto *box = static_cast<QLineEdit *>(watched);
        QTimer::singleShot(0, box, [box] { box->selectAll(); });
    }
    return QWidget::eventFilter(watched, event);
}

QString Form1::now() const
{
    return m_services.clock().toString(QStringLiteral("HH:mm:ss"));
}

// ---- file selection and naming ----------------------------------------------------------------

void Form1::SetOutputExtension(const QString &source)
{
    const QString extension = OutputNaming::Extension(Combo1->currentText());
    if (const auto name = OutputNaming::WithExtension(source, extension))
        OutputFile->setText(*name);
}

void Form1::SelectAudience(int index)
{
    Combo1->setCurrentIndex(index);
    Combo1_Click();
}

void Form1::Combo1_Click()
{
    SetOutputExtension(OutputFile->text());
}

void Form1::xpcmdbutton1_Click()
{
    // A cancelled dialog changes nothing: the box keeps what the user typed.
    if (!CD1.ShowOpen(this))
        return;
    InputFile->setText(CD1.FileName());
    SetOutputExtension(InputFile->text());
}

void Form1::xpcmdbutton2_Click()
{
    if (!CD1.ShowSave(this))
        return;
    OutputFile->setText(CD1.FileName());
    SetOutputExtension(OutputFile->text());
}

void Form1::InputFile_Change()
{
    command3->SetEnabled(true);
}

void Form1::OutputFile_Change()
{
    const QString text = OutputFile->text();
    if (text.isEmpty() || !m_services.opticalDrives || !m_services.opticalDrives->IsOnOpticalDrive(text.toStdString()))
        return;
    AppMessageBox::Show(this, JobChecks::Message(JobChecks::Verdict::OpticalOutput));
    OutputFile->setFocus();
}

// ---- presets and chrome -------------------------------------------------------------------------

void Form1::command6_Click()
{
    AppMessageBox::Show(this, QStringLiteral("点击此按钮，会自动帮助您设置DVD的最佳压缩选项"));
    Text4->setText(QStringLiteral("608"));
    Text5->setText(QStringLiteral("336"));
    Combo6->setCurrentIndex(Combo6->findText(QStringLiteral("12")));
    Combo7->setCurrentIndex(Combo7->findText(QStringLiteral("high")));
    // With a single audience there is no second one to pick: keep the current one.
    SelectAudience(Combo1->count() >= 2 ? 1 : Combo1->currentIndex());
}

void Form1::xpcmdbutton3_Click()
{
    SetOuterHeight(m_outerHeight == kAdvancedTwips ? kCollapsedTwips : kAdvancedTwips);
}

// ---- checks and the task list -------------------------------------------------------------------

bool Form1::ValidateJob()
{
    const EncoderOptions o = Snapshot();
    static const platform::DriveLetterOpticalDrives noDrives{std::string()};
    const platform::OpticalDrives &drives =
        m_services.opticalDrives ? *m_services.opticalDrives : static_cast<const platform::OpticalDrives &>(noDrives);
    const JobChecks::Verdict verdict = JobChecks::CheckPaths(o, drives);
    if (verdict != JobChecks::Verdict::Pass) {
        AppMessageBox::Show(this, JobChecks::Message(verdict));
        if (verdict == JobChecks::Verdict::OpticalOutput)
            OutputFile->setFocus();
        return false;
    }
    // A pipe or a device would hold the tool (and this window) waiting for data forever.
    if (const QString problem = JobChecks::SourceKindProblem(o.inputFile); !problem.isEmpty()) {
        AppMessageBox::Show(this, problem);
        InputFile->setFocus();
        return false;
    }
    if (!JobChecks::IsKnownFormat(o.inputFile, m_inputFilter)) {
        const auto answer = AppMessageBox::Show(this, JobChecks::Message(JobChecks::Verdict::UnknownFormat),
                                                QMessageBox::Ok | QMessageBox::Cancel);
        InputFile->setFocus();
        if (answer != QMessageBox::Ok)
            return false;
    }
    if (!JobChecks::SizeIsValid(o.width, o.height)) {
        AppMessageBox::Show(this, JobChecks::Message(JobChecks::Verdict::BadSize));
        return false;
    }
    return true;
}

void Form1::command8_Click()
{
    if (!ValidateJob())
        return;
    BuildCommandLine();
    Task task;
    task.source = InputFile->text();
    task.output = OutputFile->text();
    task.commandLine = m_commandLine;
    m_run.Tasks().Add(task);
    List1->addItem(task.output);
    List2->addItem(task.commandLine);
    List3->addItem(Task::StateText(task.state));
    SetOuterHeight(kTaskListTwips);
}

void Form1::command7_Click()
{
    const int row = List1->currentRow();
    if (m_run.RemoveTask(row))
        takeTaskRows(row);
}

void Form1::command9_Click()
{
    if (!m_run.ClearTasks())
        return;
    List1->clear();
    List2->clear();
    List3->clear();
}

// ---- job launch ---------------------------------------------------------------------------------

bool Form1::LaunchJob(const QString &commandLine)
{
    command3->SetEnabled(false);
    const QString jobFile = JobFilePath();
    // A job file left from an earlier task must never be taken for this one's. Only a file
    // goes: a pipe or a device at that path is not ours, and the tool refuses it by name.
    if (PathKind::Of(QFile::encodeName(jobFile).toStdString()) == PathKind::Kind::Regular)
        QFile::remove(jobFile);
    const RunResult run = m_services.runTool(commandLine, 0);
    if (!run.Succeeded()) {
        m_lastLaunchError = run.Reason();
        return false;
    }
    if (!QFile::exists(jobFile)) {
        m_lastLaunchError = QStringLiteral("压缩工具没有生成任务文件：%1").arg(jobFile);
        return false;
    }
    if (!m_services.engine) {
        m_lastLaunchError = QStringLiteral("压缩引擎不可用");
        return false;
    }
    const QString sep = AppPaths::Separator();
    m_services.engine->SetAudiencesDirectory(m_services.appDir + sep + QStringLiteral("Audiences") + sep);
    const QString output = OutputFile->text();
    const qsizetype last = output.lastIndexOf(sep);
    if (last >= 0)
        m_services.engine->SetOutputDirectory(output.left(last + 1));
    m_services.engine->SetJobFile(jobFile);
    m_services.engine->StartEncoding();
    return true;
}

void Form1::command3_Click()
{
    // One run at a time, whatever the button shows.
    if (!m_run.IsIdle())
        return;
    m_countdown->Cancel();
    if (!ValidateJob())
        return;
    if (m_services.sleepInhibitor)
        m_services.sleepInhibitor->Acquire();
    if (m_run.Tasks().IsEmpty()) {
        BuildCommandLine();
        m_run.StartSingle();
        if (!LaunchJob(m_commandLine)) {
            endRun();
            command3->SetEnabled(true);
            AppMessageBox::Show(this, m_lastLaunchError);
        }
        return;
    }
    command9->SetEnabled(false);
    command7->SetEnabled(false);
    m_run.StartBatch(now());
    launchNextTask();
}

void Form1::launchNextTask()
{
    while (const std::optional<int> row = m_run.NextTask()) {
        if (LaunchJob(m_run.Tasks().At(*row).commandLine)) {
            m_run.Launched();
            showTaskState(*row);
            return;
        }
        // A task whose tool failed never reaches the engine: mark it and go on.
        m_run.LaunchFailed(m_lastLaunchError);
        showTaskState(*row);
    }
    if (m_run.CurrentMode() == RunMode::Batch)
        completeBatch();
}

// ---- progress and completion --------------------------------------------------------------------

void Form1::setBarWidth(float width)
{
    m_barWidth = width;
    PBar2->resize(static_cast<int>(std::lround(width)), PBar2->height());
}

void Form1::pro_EncodingStarted()
{
    if (Mode() == RunMode::Single || (Mode() == RunMode::Batch && m_run.TaskIndex() == 0))
        m_run.SetStartTime(now());
    PBar2->show();
    setBarWidth(0);
    command4->SetEnabled(true);
}

void Form1::pro_EncodingProgress(int pass, int percent)
{
    Q_UNUSED(pass);
    const double done = m_services.engine ? m_services.engine->SecondsDone() : 0;
    const double total = m_services.engine ? m_services.engine->SecondsTotal() : 0;
    if (Mode() == RunMode::Batch)
        setStatus(ProgressText::Batch(TaskIndex(), percent, done, total));
    else
        setStatus(ProgressText::Single(m_run.StartTime(), percent, done, total));
    setBarWidth(ProgressText::BarWidth(percent));
}

void Form1::pro_EncodingFinished(bool succeeded, const QString &reason)
{
    if (Mode() == RunMode::Single) {
        const QString t = now();
        if (succeeded) {
            setStatus(t + QStringLiteral("完毕!") + QStringLiteral("用时") + ElapsedText::Between(m_run.StartTime(), t));
            setBarWidth(ProgressText::kFullBarWidth);
        } else {
            setStatus(QStringLiteral("压缩失败：") + reason);
        }
        command3->SetEnabled(true);
        command4->SetEnabled(false);
        endRun();
        if (Check3->checkState() == Qt::Checked)
            m_countdown->Start(this, AppInfo::Encoder().Title());
        return;
    }
    const std::optional<int> row = m_run.Finished(succeeded, reason);
    if (!row)
        return; // a notification of no run of ours
    showTaskState(*row);
    if (m_run.HasMoreTasks()) {
        // Launch from the event loop, not from inside the engine's notification.
        QTimer::singleShot(0, this, &Form1::launchNextTask);
        return;
    }
    completeBatch();
}

void Form1::completeBatch()
{
    const QString t = now();
    QString text = QStringLiteral("任务全部完毕!用时") + ElapsedText::Between(m_run.StartTime(), t);
    const RunController::BatchEnd end = m_run.CompleteBatch();
    if (end.failed > 0)
        text += QStringLiteral("，失败%1个").arg(end.failed);
    setStatus(text, end.failures);
    command3->SetEnabled(true);
    PBar2->show();
    setBarWidth(ProgressText::kFullBarWidth);
    command4->SetEnabled(false);
    command9->SetEnabled(true);
    command7->SetEnabled(true);
    for (const int row : end.removedRows)
        takeTaskRows(row);
    endRun();
    if (Check3->checkState() == Qt::Checked)
        m_countdown->Start(this, AppInfo::Encoder().Title());
}

void Form1::showTaskState(int row)
{
    const Task &task = m_run.Tasks().At(row);
    QListWidgetItem *state = List3->item(row);
    if (!state)
        return;
    state->setText(Task::StateText(task.state));
    // A failed row keeps its reason where the pointer finds it.
    state->setToolTip(task.failure);
    if (QListWidgetItem *output = List1->item(row))
        output->setToolTip(task.failure);
}

void Form1::takeTaskRows(int row)
{
    delete List2->takeItem(row);
    delete List3->takeItem(row);
    delete List1->takeItem(row);
}

void Form1::setStatus(const QString &text, const QStringList &details)
{
    const QString shown = Label7->fontMetrics().elidedText(text, Qt::ElideRight, Label7->width());
    QStringList tip;
    if (shown != text)
        tip << text;
    tip << details;
    Label7->setText(shown);
    Label7->setToolTip(tip.join(u'\n'));
}

void Form1::endRun()
{
    m_run.EndRun();
    if (m_services.sleepInhibitor)
        m_services.sleepInhibitor->Release();
}

// ---- cancel and close ---------------------------------------------------------------------------

void Form1::askToCancel()
{
    const auto answer = AppMessageBox::Show(this, QStringLiteral("您选择了取消压缩，所有任务将中断，并退出本软件！！"),
                                            QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    if (m_services.engine)
        m_services.engine->StopEncoding();
    if (m_services.sleepInhibitor)
        m_services.sleepInhibitor->Release();
    // At once: returning through the waits would go on to launch the next task.
    m_services.exitProcess(0);
}

void Form1::command4_Click()
{
    askToCancel();
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (m_run.IsIdle()) {
        event->accept();
        return;
    }
    event->ignore();
    askToCancel();
}

} // namespace corva

#include "joiner/JoinerWindow.h"

#include "about/Artwork.h"
#include "common/Twips.h"
#include "about/frmAbout.h"
#include "common/AppPaths.h"
#include "common/RunAndWait.h"
#include "widgets/HoverLinks.h"
#include "joiner/JoinCommand.h"
#include "joiner/JoinNaming.h"
#include "widgets/LinkLabel.h"
#include "joiner/QtJoinFileChooser.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace corva {

namespace {

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);

template <typename W>
W *place(W *widget, const char *name, const QRect &geometry)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

// Labels hold their text at the top, so a box placed over a label's lower part leaves it whole.
QLabel *label(QWidget *parent, const char *name, const QString &text, const QRect &geometry)
{
    QLabel *l = place(new QLabel(text, parent), name, geometry);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

QPushButton *button(QWidget *parent, const char *name, const QString &text, const QRect &geometry)
{
    return place(new QPushButton(text, parent), name, geometry);
}

QLineEdit *textBox(QWidget *parent, const char *name, const QRect &geometry)
{
    return place(new QLineEdit(parent), name, geometry);
}

void setForeground(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

} // namespace

JoinerWindow::Services JoinerWindow::Services::System()
{
    Services services;
    services.chooser = std::make_shared<QtJoinFileChooser>();
    services.toolPath = AppPaths::InAppDir(QStringLiteral("jj"));
    services.endProgram = [] {
        // Leave at once, without unwinding: the wait's process object would otherwise stop
        // the running tool on its way out, and the tool is to finish its file.
        std::fflush(nullptr);
        std::_Exit(0);
    };
    services.showAbout = [] { frmAbout::ShowFor(AppInfo::Joiner(), frmAbout::Variant::Joiner); };
    return services;
}

JoinerWindow::JoinerWindow(Services services, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint),
      m_services(std::move(services))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(m_info.Caption());
    setFixedSize(Twips::ToPixels(10590), Twips::ToPixels(6390));
    setFont(QFont(QStringLiteral("宋体"), 9));
    Build();
}

void JoinerWindow::Build()
{
    auto *banner = label(this, "Image1", QString(), Twips::Rect(0, 0, 10620, 1230));
    banner->setPixmap(Artwork::JoinerBanner());

    // The three characters stand one above the other in the narrow label.
    auto *label13 = place(new LinkLabel(QStringLiteral("最小化"), this), "Label13",
                          Twips::Rect(10440, 120, 255, 735));
    label13->setWordWrap(true);
    label13->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto *label8 = place(new LinkLabel(QStringLiteral("关于这个软件"), this), "Label8",
                         Twips::Rect(2520, 960, 1095, 255));
    label8->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    label(this, "Label1", QStringLiteral("添加输入文件："), Twips::Rect(240, 1440, 1695, 375));
    m_inputFile = textBox(this, "InputFile", Twips::Rect(240, 1680, 5655, 270));
    auto *command1 = button(this, "Command1", QStringLiteral("浏览"), Twips::Rect(6120, 1680, 735, 255));
    auto *command10 = button(this, "Command10", QStringLiteral("开始合并"), Twips::Rect(7080, 1440, 1575, 615));
    auto *command4 = button(this, "Command4", QStringLiteral("结束"), Twips::Rect(8880, 1440, 1575, 615));
    auto *label3 = label(this, "Label3",
                         QStringLiteral("注意：请按顺序添加文件、并且确保每个文件的码率和长宽等基本参数要相同、"
                                        "否则合并有可能不成功。"),
                         Twips::Rect(240, 2160, 8895, 255));
    setForeground(label3, kRed);

    auto *frame2 = place(new QGroupBox(QStringLiteral("等待合并的文件列表"), this), "Frame2",
                         Twips::Rect(120, 2400, 10335, 2175));
    m_list1 = place(new QListWidget(frame2), "List1", Twips::Rect(120, 240, 8175, 1650));
    auto *command7 = button(frame2, "Command7", QStringLiteral("删除"), Twips::Rect(8640, 600, 1335, 255));
    auto *command9 = button(frame2, "Command9", QStringLiteral("清空"), Twips::Rect(8640, 1320, 1335, 255));

    auto *frame1 = place(new QGroupBox(QStringLiteral("输出选项"), this), "Frame1",
                         Twips::Rect(120, 4680, 10335, 1575));
    label(frame1, "Label4", QStringLiteral("标题："), Twips::Rect(240, 360, 975, 255));
    m_text1 = textBox(frame1, "Text1", Twips::Rect(840, 360, 3255, 270));
    label(frame1, "Label5", QStringLiteral("作者："), Twips::Rect(240, 720, 975, 255));
    m_text2 = textBox(frame1, "Text2", Twips::Rect(840, 720, 3255, 270));
    label(frame1, "Label6", QStringLiteral("版权："), Twips::Rect(240, 1080, 975, 255));
    m_text3 = textBox(frame1, "Text3", Twips::Rect(840, 1080, 3255, 270));
    m_text3->setText(QStringLiteral("墨川压缩合并 2004"));
    label(frame1, "Label2", QStringLiteral("合并文件保存到："), Twips::Rect(4440, 480, 1815, 375));
    m_outputFile = textBox(frame1, "OutputFile", Twips::Rect(4440, 720, 4575, 270));
    auto *command2 = button(frame1, "Command2", QStringLiteral("浏览"), Twips::Rect(9240, 720, 735, 255));

    // The links lie over the banner, so they are raised above it.
    label13->raise();
    label8->raise();
    auto *hover = new HoverLinks(kBlue, kRed, this);
    hover->AddLink(label8);
    hover->AddLink(label13);
    hover->AddResetArea(this);
    hover->AddResetArea(frame1);

    QWidget *tabOrder[] = {m_inputFile, command1, command10, command4, m_list1, command7,
                           command9,    m_text1,  m_text2,   m_text3,  m_outputFile, command2};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    m_inputFile->setFocus();

    connect(command1, &QPushButton::clicked, this, &JoinerWindow::AddInput);
    connect(command2, &QPushButton::clicked, this, &JoinerWindow::ChooseOutput);
    connect(command7, &QPushButton::clicked, this, &JoinerWindow::DeleteSelected);
    connect(command9, &QPushButton::clicked, this, &JoinerWindow::ClearList);
    connect(command10, &QPushButton::clicked, this, &JoinerWindow::StartJoin);
    connect(command4, &QPushButton::clicked, this, &JoinerWindow::Quit);
    connect(label8, &LinkLabel::Clicked, this, [this] {
        if (m_services.showAbout)
            m_services.showAbout();
    });
    connect(label13, &LinkLabel::Clicked, this, &QWidget::showMinimized);
}

void JoinerWindow::AddInput()
{
    const std::optional<QString> chosen = m_services.chooser->ChooseInput(this);
    if (!chosen)
        return;
    m_inputFile->setText(*chosen);
    m_list.Append(m_inputFile->text());
    m_list1->addItem(m_inputFile->text());
    const QString typeWord = JoinNaming::TypeWord(m_inputFile->text());
    if (const auto name = JoinNaming::OutputName(m_inputFile->text(), typeWord))
        m_outputFile->setText(*name);
}

void JoinerWindow::ChooseOutput()
{
    const std::optional<QString> chosen = m_services.chooser->ChooseOutput(this);
    if (!chosen)
        return;
    m_outputFile->setText(*chosen);
    // The type follows the last input added, not the name just chosen.
    const QString typeWord = JoinNaming::TypeWord(m_inputFile->text());
    if (const auto name = JoinNaming::OutputName(m_outputFile->text(), typeWord))
        m_outputFile->setText(*name);
}

void JoinerWindow::DeleteSelected()
{
    const int row = m_list1->currentRow();
    if (row < 0 || !m_list1->item(row)->isSelected())
        return;
    if (m_list.RemoveAt(row))
        delete m_list1->takeItem(row);
}

void JoinerWindow::ClearList()
{
    m_list.Clear();
    m_list1->clear();
}

void JoinerWindow::StartJoin()
{
    if (m_joining) {
        Inform(QStringLiteral("正在合并，请等这次合并结束后再开始。"));
        return;
    }
    if (!m_list.HasEnoughToJoin()) {
        Inform(QStringLiteral("要合并文件，您必须要有两个以上的文件吧？"));
        return;
    }
    m_joinCommandLine = BuildJoinCommandLine({m_services.toolPath, m_list.Entries(),
                                              m_outputFile->text(), m_text1->text(),
                                              m_text2->text(), m_text3->text()});
    m_joining = true;
    const RunResult result = RunAndWait(m_joinCommandLine, 1);
    m_joining = false;

    if (result.Succeeded())
        Inform(QStringLiteral("合并完毕！"));
    else if (!result.started)
        Inform(QStringLiteral("无法启动合并工具，请确认它在这里：\n%1").arg(m_services.toolPath));
    else
        Inform(QStringLiteral("合并没有成功：\n%1").arg(result.Reason()));
}

void JoinerWindow::Quit()
{
    QMessageBox box(QMessageBox::NoIcon, m_info.Title(),
                    QStringLiteral("您选择了取消压缩，所有任务将中断，并退出本软件！！"),
                    QMessageBox::Yes | QMessageBox::No, this);
    if (box.exec() == QMessageBox::Yes && m_services.endProgram)
        m_services.endProgram();
}

void JoinerWindow::closeEvent(QCloseEvent *event)
{
    // Closing while a join runs would unwind the wait and stop the tool with it; leave the
    // way the quit button does, so the tool finishes its file.
    if (m_joining && m_services.endProgram)
        m_services.endProgram();
    QWidget::closeEvent(event);
}

void JoinerWindow::Inform(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, m_info.Title(), text, QMessageBox::Ok, this);
    box.exec();
}

} // namespace corva

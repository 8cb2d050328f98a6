#include "about/frmAbout.h"

#include "about/Artwork.h"
#include "common/Twips.h"

#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include <utility>

namespace corva {

namespace {

QPointer<frmAbout> s_instance;

// Maker's lines. Invented for this program; they name no real person or company.
const QString kCopyright = QStringLiteral("版权所有 (C) 2004 墨川工作室");
const QString kAuthor = QStringLiteral("作者：墨川工作室");
const QString kBuildDate = QStringLiteral("编译日期：2004年8月16日");

const QString kEncoderDescription = QStringLiteral(
    "这是一个 Real9/10 格式的影音压缩软件，能生成rmvb，文件来源支持多种格式：vob,dat,mpeg,avi,"
    "mp3,wmv,asf,等等，支持中文字幕压入。");
const QString kJoinerDescription = QStringLiteral("这是一个 Real 格式的影片合并工具。");

QLabel *label(QWidget *parent, const char *name, const QString &text, const QRect &geometry)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(geometry);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

// A separator from x1 to x2 at height y, `width` pixels thick, in twips.
QFrame *line(QWidget *parent, const char *name, const QColor &colour, int x1, int y, int x2,
             int width)
{
    auto *f = new QFrame(parent);
    f->setObjectName(QString::fromLatin1(name));
    const QPoint from = Twips::Point(x1, y);
    const QPoint to = Twips::Point(x2, y);
    f->setGeometry(from.x(), from.y(), to.x() - from.x() + 1, width);
    QPalette palette = f->palette();
    palette.setColor(QPalette::Window, colour);
    f->setPalette(palette);
    f->setAutoFillBackground(true);
    return f;
}

} // namespace

frmAbout *frmAbout::ShowFor(const AppInfo &info, Variant variant, SysInfoServices services)
{
    if (!s_instance)
        s_instance = new frmAbout(info, variant, std::move(services));
    s_instance->show();
    s_instance->raise();
    s_instance->activateWindow();
    return s_instance;
}

frmAbout *frmAbout::Instance()
{
    return s_instance;
}

frmAbout::frmAbout(const AppInfo &info, Variant variant, SysInfoServices services)
    : QDialog(nullptr,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_info(info), m_variant(variant), m_services(std::move(services))
{
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setFixedSize(Twips::ToPixels(6090), Twips::ToPixels(3555));
    setFont(QFont(QStringLiteral("宋体"), 9));
    BuildCommon();
    if (m_variant == Variant::Encoder)
        BuildEncoderExtras();
    Load();
}

frmAbout::~frmAbout()
{
    if (s_instance == this)
        s_instance = nullptr;
}

void frmAbout::BuildCommon()
{
    // The encoder's lines stand further right to make room for its icon.
    const int left = m_variant == Variant::Encoder ? 1080 : 720;
    m_lblTitle = label(this, "lblTitle", QString(), Twips::Rect(left, 240, 3885, 480));
    m_lblVersion = label(this, "lblVersion", QString(), Twips::Rect(left, 780, 3885, 225));
    label(this, "Label2", kCopyright, Twips::Rect(left, 1200, 4455, 255));

    // Grey over white, offset: an etched rule between the head and the buttons.
    line(this, "Line1_1", QColor(128, 128, 128), 240, 2280, 5804, 1);
    line(this, "Line1_0", QColor(255, 255, 255), 105, 2460, 5654, 2);

    QLabel *description = label(this, "lblDescription",
                                m_variant == Variant::Encoder ? kEncoderDescription
                                                              : kJoinerDescription,
                                Twips::Rect(360, 2520, 3525, 930));
    description->setWordWrap(true);

    m_cmdOK = new QPushButton(QStringLiteral("确定"), this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdOK->setGeometry(Twips::Rect(4200, 2520, 1500, 345));
    m_cmdOK->setDefault(true);
    m_cmdOK->setAutoDefault(true);
    connect(m_cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    m_cmdSysInfo = new QPushButton(QStringLiteral("系统信息(&S)..."), this);
    m_cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    m_cmdSysInfo->setGeometry(Twips::Rect(4200, 3000, 1485, 345));
    m_cmdSysInfo->setAutoDefault(false);
    connect(m_cmdSysInfo, &QPushButton::clicked, this,
            [this] { StartSysInfo(m_services, this, m_info.Title()); });

    m_cmdOK->setFocus();
}

void frmAbout::BuildEncoderExtras()
{
    auto *icon = label(this, "Picture1", QString(), Twips::Rect(360, 480, 375, 375));
    icon->setPixmap(Artwork::EncoderIcon());
    auto *codec = label(this, "Image1", QString(), Twips::Rect(5040, 120, 480, 480));
    codec->setPixmap(Artwork::AboutCodecBadge());
    auto *disc = label(this, "Image2", QString(), Twips::Rect(5520, 120, 480, 480));
    disc->setPixmap(Artwork::AboutDiscBadge());

    label(this, "Label3", kAuthor, Twips::Rect(1080, 1500, 3015, 255));
    label(this, "Label4", kBuildDate, Twips::Rect(1080, 1800, 3015, 255));
    label(this, "Label5", QStringLiteral("RealVideo 10 支持！"), Twips::Rect(4200, 1500, 1815, 255));
    label(this, "Label6", QStringLiteral("DVD直接压缩支持！"), Twips::Rect(4200, 1800, 1815, 255));

    QFont titleFont(QStringLiteral("宋体"));
    titleFont.setPointSizeF(10.5);
    titleFont.setBold(true);
    m_lblTitle->setFont(titleFont);
    setWindowIcon(Artwork::EncoderWindowIcon());
}

void frmAbout::Load()
{
    setWindowTitle(QStringLiteral("关于 ") + m_info.Title());
    m_lblVersion->setText(QStringLiteral("版本 ") + m_info.Version());
    m_lblTitle->setText(m_info.Title());
}

void frmAbout::done(int result)
{
    // OK, Esc and the close box all unload the box; a later showing starts afresh.
    if (s_instance == this)
        s_instance = nullptr;
    QDialog::done(result);
}

} // namespace corva

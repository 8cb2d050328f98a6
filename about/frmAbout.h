#pragma once

#include "about/StartSysInfo.h"
#include "common/AppInfo.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace corva {

// The About box both programs share. There is at most one per program: it has no owner and
// does not block its main window; showing it again brings the open one forward, and once it
// has been closed the next showing builds it anew.
class frmAbout final : public QDialog
{
    Q_OBJECT

public:
    // The two programs differ only in the fixed content and placement of the box.
    enum class Variant { Encoder, Joiner };

    // Shows the box, creating it if none is open. services are used only when it is created.
    static frmAbout *ShowFor(const AppInfo &info, Variant variant,
                             SysInfoServices services = SysInfoServices::System());
    // The open box, or null.
    static frmAbout *Instance();

    ~frmAbout() override;

    QPushButton *OkButton() const { return m_cmdOK; }
    QPushButton *SysInfoButton() const { return m_cmdSysInfo; }

public Q_SLOTS:
    void done(int result) override;

private:
    frmAbout(const AppInfo &info, Variant variant, SysInfoServices services);
    void BuildCommon();
    void BuildEncoderExtras();
    void Load();

    AppInfo m_info;
    Variant m_variant;
    SysInfoServices m_services;
    QLabel *m_lblTitle = nullptr;
    QLabel *m_lblVersion = nullptr;
    QPushButton *m_cmdOK = nullptr;
    QPushButton *m_cmdSysInfo = nullptr;
};

} // namespace corva

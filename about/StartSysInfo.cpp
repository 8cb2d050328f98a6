#include "about/StartSysInfo.h"

#include "about/GetKeyValue.h"
#include "common/CommandLine.h"
#include "common/Gbk.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>

#include <exception>

namespace corva {

namespace {

const char kInfoKey[] = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const char kInfoValue[] = "PATH";
const char kLocationKey[] = "SOFTWARE\\Microsoft\\Shared Tools Location";
const char kLocationValue[] = "MSINFO";
const char kProgramName[] = "\\MSINFO32.EXE";

// The program path found through the registry, or an empty text.
QString findProgram(const SysInfoServices &services)
{
    if (!services.registry)
        return QString();
    std::string path;
    if (GetKeyValue(*services.registry, Registry::kLocalMachine, kInfoKey, kInfoValue, path))
        return Gbk::Decode(QByteArray::fromStdString(path));

    std::string folder;
    if (GetKeyValue(*services.registry, Registry::kLocalMachine, kLocationKey, kLocationValue,
                    folder)) {
        const QString candidate = Gbk::Decode(QByteArray::fromStdString(folder + kProgramName));
        if (services.fileExists && services.fileExists(candidate))
            return candidate;
    }
    return QString();
}

bool startDetached(const QString &commandLine)
{
    QStringList arguments = CommandLine::Split(commandLine);
    if (arguments.isEmpty())
        return false;
    const QString program = arguments.takeFirst();
    return QProcess::startDetached(program, arguments);
}

} // namespace

SysInfoServices SysInfoServices::System()
{
    SysInfoServices services;
    services.registry = OpenSystemRegistry();
    services.fileExists = [](const QString &path) { return QFileInfo(path).isFile(); };
    services.startProgram = startDetached;
    services.showMessage = [](QWidget *parent, const QString &caption, const QString &text) {
        QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
        box.exec();
    };
    return services;
}

QString SysInfoUnavailableText()
{
    return QStringLiteral("此时系统信息不可用");
}

void StartSysInfo(const SysInfoServices &services, QWidget *parent, const QString &caption)
{
    bool started = false;
    try {
        const QString program = findProgram(services);
        // The program normally lies under "Program Files": unquoted, the blank would split it
        // and another program could be started in its place.
        if (!program.isEmpty() && services.startProgram)
            started = services.startProgram(CommandLine::QuoteValue(program));
    } catch (const std::exception &) {
        started = false;
    }
    if (!started && services.showMessage)
        services.showMessage(parent, caption, SysInfoUnavailableText());
}

} // namespace corva

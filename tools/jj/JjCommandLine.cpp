#include "tools/jj/JjCommandLine.h"

#include "common/CommandLine.h"

namespace corva {

std::optional<JjRequest> JjCommandLine::Parse(const QStringList &arguments, QStringList *errors)
{
    QStringList args = arguments;
    if (args.size() == 1) {
        args = CommandLine::Split(args.front());
        if (!args.isEmpty() && !args.front().startsWith(u'-'))
            args.removeFirst();
    }

    JjRequest request;
    const qsizetype before = errors->size();
    std::optional<QString> output;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == u"-h" || a == u"--help" || a == u"/?") {
            request.help = true;
            return request;
        }
        std::optional<QString> *slot = nullptr;
        const bool input = a == u"-i";
        if (a == u"-o")
            slot = &output;
        else if (a == u"-t")
            slot = &request.title;
        else if (a == u"-a")
            slot = &request.author;
        else if (a == u"-c")
            slot = &request.copyright;
        if (!input && !slot) {
            errors->append(a.startsWith(u'-') ? QStringLiteral("无法识别的选项“%1”").arg(a)
                                              : QStringLiteral("多余的参数“%1”（文件名前要写 -i 或 -o）").arg(a));
            continue;
        }
        if (i + 1 >= args.size()) {
            errors->append(QStringLiteral("选项 %1 后面缺少值").arg(a));
            break;
        }
        const QString value = args.at(++i);
        if (input) {
            if (value.isEmpty())
                errors->append(QStringLiteral("-i 后面的输入文件名是空的"));
            else
                request.inputs << value;
        } else if (slot->has_value()) {
            errors->append(QStringLiteral("选项 %1 只能给一次").arg(a));
        } else {
            *slot = value;
        }
    }
    if (!output || output->isEmpty())
        errors->append(QStringLiteral("缺少输出文件（-o）"));
    else
        request.output = *output;
    if (request.inputs.size() < 2)
        errors->append(QStringLiteral("要合并文件，至少需要两个输入文件（-i），现在有 %1 个")
                           .arg(request.inputs.size()));
    if (errors->size() != before)
        return std::nullopt;
    return request;
}

QString JjCommandLine::Usage()
{
    return QStringLiteral(
        "用法：jj -i 输入1 -i 输入2 [-i 输入3 ...] -o 输出 [-t 标题] [-a 作者] [-c 版权]\n"
        "不重新压缩，把几个格式相同的 RealMedia 文件（.rm、.rmvb）按给出的顺序合并成一个。\n"
        "也可以把整条命令行作为唯一的参数给出。\n"
        "退出码：0 成功；1 命令行有误；2 输入文件无法读取或已损坏；"
        "3 输入文件不能合并（格式不同或不支持）；4 无法写出输出文件。\n");
}

} // namespace corva

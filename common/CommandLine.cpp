#include "common/CommandLine.h"

namespace corva {

namespace {

bool needsQuotes(const QString &text)
{
    if (text.isEmpty())
        return true;
    for (const QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'"' || c == u'\n' || c == u'\v')
            return true;
    }
    return false;
}

} // namespace

QString CommandLine::QuoteValue(const QString &value)
{
    QString out;
    out.reserve(value.size() + 2);
    out += u'"';
    qsizetype backslashes = 0;
    for (const QChar c : value) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        if (c == u'"') {
            // Backslashes before a quote are doubled, and the quote itself escaped.
            out += QString(backslashes * 2 + 1, u'\\');
            out += u'"';
        } else {
            out += QString(backslashes, u'\\');
            out += c;
        }
        backslashes = 0;
    }
    // Trailing backslashes would otherwise escape the closing quote.
    out += QString(backslashes * 2, u'\\');
    out += u'"';
    return out;
}

QString CommandLine::QuotePathIfNeeded(const QString &path)
{
    return needsQuotes(path) ? QuoteValue(path) : path;
}

QStringList CommandLine::Split(const QString &commandLine)
{
    QStringList args;
    QString current;
    bool inArgument = false;
    bool inQuotes = false;
    const qsizetype n = commandLine.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = commandLine.at(i);
        if (!inQuotes && (c == u' ' || c == u'\t')) {
            if (inArgument) {
                args << current;
                current.clear();
                inArgument = false;
            }
            ++i;
            continue;
        }
        inArgument = true;
        if (c == u'\\') {
            qsizetype count = 0;
            while (i < n && commandLine.at(i) == u'\\') {
                ++count;
                ++i;
            }
            if (i < n && commandLine.at(i) == u'"') {
                current += QString(count / 2, u'\\');
                if (count % 2 == 1) {
                    current += u'"';
                    ++i;
                }
                // An even count leaves the quote to toggle quoting below.
            } else {
                current += QString(count, u'\\');
            }
            continue;
        }
        if (c == u'"') {
            if (inQuotes && i + 1 < n && commandLine.at(i + 1) == u'"') {
                // "" inside quotes stands for one literal quote.
                current += u'"';
                i += 2;
                continue;
            }
            inQuotes = !inQuotes;
            ++i;
            continue;
        }
        current += c;
        ++i;
    }
    if (inArgument)
        args << current;
    return args;
}

QString CommandLine::Join(const QStringList &arguments)
{
    QStringList parts;
    parts.reserve(arguments.size());
    for (const QString &a : arguments)
        parts << (needsQuotes(a) ? QuoteValue(a) : a);
    return parts.join(u' ');
}

} // namespace corva

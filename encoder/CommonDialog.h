#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace corva {

class FileChooser;

// CD1: the one file-dialog component both browse buttons share. It keeps the filter and
// the last confirmed file name, which the next dialog starts from.
class CommonDialog final
{
public:
    explicit CommonDialog(FileChooser *chooser);

    // Filter text in "description|pattern|description|pattern" form.
    void SetFilter(const QString &filter) { m_filter = filter; }
    const QString &Filter() const { return m_filter; }
    // 4 hides the read-only box, which these dialogs never show anyway.
    void SetFlags(int flags) { m_flags = flags; }
    int Flags() const { return m_flags; }
    const QString &FileName() const { return m_fileName; }

    // True when the user confirmed a choice; a cancelled dialog leaves FileName() as it was.
    bool ShowOpen(QWidget *parent);
    bool ShowSave(QWidget *parent);

    // The filter as the toolkit's dialogs take it: one "description (patterns)" entry per pair.
    // "*.*" also covers files without an extension.
    static QStringList NameFilters(const QString &filter);

private:
    FileChooser *m_chooser = nullptr;
    QString m_filter;
    int m_flags = 0;
    QString m_fileName;
};

} // namespace corva

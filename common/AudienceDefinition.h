#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace corva {

// One audience (compression rate) as defined by a file in the Audiences folder:
// "key=value" lines in UTF-8, '#' starts a comment line.
struct AudienceDefinition
{
    QString name;
    int totalKbps = 0;
    int videoKbps = 0;
    int audioKbps = 0;
    int audioChannels = 2;
    int audioRate = 44100;
    int maxFps = 25;
    int keyframeSeconds = 10;
    bool vbr = false;
    int vbrQmin = 2;
    int vbrQmax = 31;
    int vbrPeakKbps = 0;

    // Parses a definition text; on failure returns nothing and says why in *error.
    static std::optional<AudienceDefinition> Parse(const QString &text, QString *error);
    // Finds the definition whose name is exactly `name` among the folder's *.audience files.
    static std::optional<AudienceDefinition> Find(const QString &folder, const QString &name, QString *error);
    // Every readable definition of a folder, in file-name order.
    static QList<AudienceDefinition> LoadAll(const QString &folder, QStringList *errors);
};

} // namespace corva

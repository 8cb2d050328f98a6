#pragma once

#include <QString>

namespace corva {

// A snapshot of the main window's option widgets, read in one go before any logic runs.
// List choices keep both their position and their text; check boxes their raw state
// (0 unchecked, 1 checked, 2 grey — only 1 counts as checked).
struct EncoderOptions
{
    QString inputFile;
    QString outputFile;
    QString title;
    QString author;
    QString copyright;
    QString audience;
    int videoModeIndex = 0;
    QString videoMode = QStringLiteral("normal");
    int audioModeIndex = 0;
    QString audioMode = QStringLiteral("music");
    int singlePass = 1;
    int audioOnly = 0;
    int resampleIndex = 0;
    QString resample = QStringLiteral("fast");
    int noiseIndex = 0;
    QString noise = QStringLiteral("None");
    int brightness = 0;
    int gainIndex = 2;
    QString gain = QStringLiteral("0");
    QString width = QStringLiteral("0");
    QString height = QStringLiteral("0");
    QString resizeQuality = QStringLiteral("high");
    QString codec = QStringLiteral("rv9");
};

} // namespace corva

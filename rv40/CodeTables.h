#pragma once

#include <cstddef>
#include <cstdint>

namespace corva::rv40 {

struct Vlc {
    std::uint16_t code = 0;
    std::uint8_t len = 0; // 0 = symbol has no code
};

// Canonical code construction: shortest codes first, consecutive codes in ascending symbol
// order within one length. Returns false when the lengths overflow 16 bits (not a prefix code).
bool BuildCanonical(const std::int32_t *lengths, std::size_t count, Vlc *out);

// Every code table the encoder writes with, built once from the embedded data.
struct CodeTables {
    Vlc intraCbppat[5][2][1296];
    Vlc intraCbp[5][8][16];
    Vlc intraFirst[5][4][864];
    Vlc intraSecond[5][2][108];
    Vlc intraThird[5][2][108];
    Vlc intraCoeff[5][32];
    Vlc interCbppat[7][1296];
    Vlc interCbp[7][4][16];
    Vlc interFirst[7][2][864];
    Vlc interSecond[7][2][108];
    Vlc interThird[7][2][108];
    Vlc interCoeff[7][32];

    Vlc aicTop[16];              // row-0 pattern on the first slice line
    Vlc aicPair[20][81];         // [context][9*mode + right mode]
    Vlc aicSingle[90][9];        // [top + 10*left][mode]
    std::int8_t aicPairContext[9][9][9]; // [left][top][top-right] -> pair table, -1 = none
    Vlc ptype[7][12];            // [context table][MB type]
    std::uint8_t ptypeContext[12];
    Vlc btype[6][12];            // B-picture types, the same way
    std::uint8_t btypeContext[12];
    std::uint8_t cbpSymbol[64];  // 2x2 sub-block mask (bits 0,1,4,5) -> symbol

    int qscale[32];
    int chromaQuantAc[32], chromaQuantDc[32];
    int lumaDcQuantIntra[32], lumaDcQuantInter[32];
    int vlcSetIntra[32], vlcSetInter[32];
    int standardWidths[8], standardHeights[12];
    int mbStartMax[6], mbStartBits[6];
    int codedPosition[16];       // coded index -> raster position
    int chromaBias[4][4];
    int lfAlpha[32], lfBeta[32], lfClip[3][32], ditherL[16], ditherR[16];

    static const CodeTables &Get();
};

} // namespace corva::rv40

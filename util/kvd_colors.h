#pragma once

// The colours a tag can have: the tag editor's list, and the colours that an
// import or a sync gives the tags it makes. Values have red in the low byte,
// as the database stores them.

#include <cstdint>

struct TNamedColor
{
    const char* Name;
    int32_t Value;
};

// The red, green and blue of a colour value, 0 to 255 each.
struct TColorParts
{
    int red = 0;
    int green = 0;
    int blue = 0;
};

// The one reading of a colour value: red in the low byte, then green, then
// blue; the high byte is not read (see TagColor for the system colours).
constexpr TColorParts ColorPartsOf(uint32_t aValue)
{
    return {static_cast<int>(aValue & 0xFF), static_cast<int>((aValue >> 8) & 0xFF),
            static_cast<int>((aValue >> 16) & 0xFF)};
}

constexpr uint32_t ColorValueOf(TColorParts aParts)
{
    return static_cast<uint32_t>(aParts.red) | (static_cast<uint32_t>(aParts.green) << 8) |
           (static_cast<uint32_t>(aParts.blue) << 16);
}

// The 16 standard colours, then the 4 extended ones, in the editor's order.
inline constexpr TNamedColor kTagColors[] = {
    {"clBlack", 0x000000}, {"clMaroon", 0x000080},     {"clGreen", 0x008000},
    {"clOlive", 0x008080}, {"clNavy", 0x800000},       {"clPurple", 0x800080},
    {"clTeal", 0x808000},  {"clGray", 0x808080},       {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},   {"clLime", 0x00FF00},       {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},  {"clFuchsia", 0xFF00FF},    {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF}, {"clMoneyGreen", 0xC0DCC0}, {"clSkyBlue", 0xF0CAA6},
    {"clCream", 0xF0FBFF}, {"clMedGray", 0xA4A0A0},
};

// The colour of a tag that an import or a sync makes when aTagCount tags
// exist: the colours of the tag editor's list in their order (black, maroon,
// green, ...), one after another, passing over white and cream, which cannot
// be read on the list's white background.
int32_t ImportTagColor(int aTagCount);

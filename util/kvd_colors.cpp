#include "util/kvd_colors.h"

#include <vector>

namespace {

constexpr int32_t kWhite = 0xFFFFFF;
constexpr int32_t kCream = 0xF0FBFF;

} // namespace

int32_t ImportTagColor(int aTagCount)
{
    std::vector<int32_t> colors;
    for (const TNamedColor& color : kTagColors) {
        if (color.Value != kWhite && color.Value != kCream)
            colors.push_back(color.Value);
    }
    const int count = static_cast<int>(colors.size());
    return colors[((aTagCount % count) + count) % count];
}

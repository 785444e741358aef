#include "main/ColumnLayout.h"

#include <algorithm>

namespace twips
{
double toPixels(double twips, double dpi)
{
    return twips * dpi / 1440.0;
}

double fromPixels(double pixels, double dpi)
{
    return dpi > 0 ? pixels * 1440.0 / dpi : 0.0;
}
} // namespace twips

std::array<double, 4> columnWidths(double listWidth)
{
    const double free = std::max(0.0, listWidth - 170.0);
    return {free * 0.25, free * 0.375, free * 0.125, free * 0.25};
}

#pragma once

#include <array>

// Lengths of the main window are given in twips (1/1440 inch): 15 twips are one pixel at 96 dpi.
namespace twips
{
double toPixels(double twips, double dpi);
double fromPixels(double pixels, double dpi);
} // namespace twips

// The widths of the list's columns From, Subject, Size and Account for a list `listWidth` twips
// wide: 170 twips stay free, the rest is shared 25 %, 37.5 %, 12.5 % and 25 %. A list narrower than
// 170 twips gives columns of width 0.
std::array<double, 4> columnWidths(double listWidth);

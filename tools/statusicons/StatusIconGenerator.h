// Draws the status icons that the controller shows in the overlay store: a white symbol
// on a blue plate, square, with black (see-through) corners. The controller reads them as
// linear light, so only full-intensity colours are used for the plate and the symbol;
// the symbol's edges are smoothed against the plate only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StatusIcon {
    std::string file; // name under resources/
    int size = 0;
    std::vector<uint8_t> rgb; // size x size, three bytes a pixel
};

// The four icons, in the order of the controller's icon slots.
std::vector<StatusIcon> drawStatusIcons();

// Writes an icon as an 8-bit RGB PNG; false when the file cannot be written.
bool writeStatusIcon(const StatusIcon& icon, const std::string& path);

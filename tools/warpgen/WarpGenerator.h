// Warp tables for the display FPGA, made for the demonstration and the tests: a line
// table and a pixel table per rotation angle, in the text formats the controller loads.
//
// The tables rotate the picture about its centre. Line table record of output line y:
// the line number, the source line and source pixel of the line's first pixel, and the
// per-pixel source-line slope in 1/65536. Pixel table: per output pixel two 4-bit fields,
// the sixteenths of the source position in x and in y.
#pragma once

#include <string>
#include <vector>

namespace warpgen {

struct Options {
    std::string folder = ".";
    int width = 1920;
    int height = 1080;
    int stepTenths = 2; // rotation step in tenths of a degree
    int maxTenths = 20; // tables for -max..max
    std::string lineName = "warpline.txt";
    std::string pixelName = "warppixel.txt";
    std::string zipName = "warp.zip";
    bool plainRotations = true; // rotated tables as plain files too (the zip has them all)
};

// The file name of a table for an angle: the "%1.1f" angle inserted before the first '.'
// ("warpline.txt" at -1.5 degrees: "warpline-1.5.txt"); angle 0 keeps the base name.
std::string rotatedName(const std::string& base, int tenths);

std::string lineTable(int width, int height, double degrees);
std::string pixelTable(int width, int height, double degrees);

struct ZipMember {
    std::string name;
    std::string content;
};
// A zip archive of deflated members; empty on a compression failure.
std::string zipArchive(const std::vector<ZipMember>& members);

// Writes the tables of every angle; returns an error text or empty.
std::string generate(const Options& options);

} // namespace warpgen

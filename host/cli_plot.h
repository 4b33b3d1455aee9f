// The picture of a measured frequency response: the gain curve on a
// logarithmic frequency axis in dB, over the analogue first-order low-pass of
// the same cutoff, with the -3 dB point marked. Written as a PNG file.
#pragma once

#include <string>
#include <vector>

struct Response_Plot {
    struct Point {
        double hz, db;
    };
    std::vector<Point> measured;  // rising frequencies
    double cutoff = 0;            // of the reference curve; none when not above 0
    double rate = 44100;
    std::string title;
};

// The frequency where the measured curve first falls through -3 dB
// (interpolated on the log axis), or 0 when it never does.
double response_plot_corner(const Response_Plot& plot);

// Draws the plot and writes it; false with a reason in *error on failure.
bool response_plot_write(const Response_Plot& plot, const std::string& path, std::string* error);

// kbdchart: draws the picture of a built layout library for the launcher.
//
//   kbdchart <layout.dll> <font file> <chart.bmp> <chart.png>
//
// Every key's characters come from the library's own tables, so the picture
// shows exactly what the shipped layout types. Fails, naming the character,
// when the font cannot draw one of them.
#include <cstdio>
#include <exception>

#include "chart_renderer.h"
#include "image_files.h"
#include "layout_file_source.h"

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: kbdchart <layout.dll> <font file> <chart.bmp> <chart.png>\n");
        return 2;
    }
    try {
        const chart::LayoutFileSource layout(kbdread::readLayout(std::filesystem::path(argv[1])));
        const chart::Font font(argv[2]);
        const auto labels = chart::labelsFor(layout, chart::keyPlaces());
        chart::requireCoverage(font, labels);
        const chart::Raster picture = chart::renderChart(font, chart::keyboardSlots(), labels);
        chart::writeFile(argv[3], chart::encodeRle8Bmp(picture));
        chart::writePng(picture, argv[4]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kbdchart: %s\n", error.what());
        return 1;
    }
    return 0;
}

// kbdchart: draws the chart of a built layout library: the picture the
// launcher shows (as a run-length bitmap and as a PNG) and the chart to
// print (PDF).
//
//   kbdchart <layout.dll> <font file> <print font file> <words file> <chart.bmp> <chart.png> <chart.pdf>
//
// The print font is the same font without its hinting, which only screens
// use.
// Every key's characters come from the library's own tables, so the charts
// show exactly what the shipped layout types. Fails, naming the character,
// when the font cannot draw one of them.
#include <cstdio>
#include <exception>

#include "chart_renderer.h"
#include "image_files.h"
#include "layout_file_source.h"
#include "printable_chart.h"

int main(int argc, char** argv)
{
    if (argc != 8) {
        std::fprintf(stderr, "usage: kbdchart <layout.dll> <font file> <print font file> <words file> <chart.bmp> "
                             "<chart.png> <chart.pdf>\n");
        return 2;
    }
    try {
        const chart::LayoutFileSource layout(kbdread::readLayout(std::filesystem::path(argv[1])));
        const chart::Font font(argv[2]);
        const chart::Font printFont(argv[3]);
        const auto words = chart::Words::read(argv[4]);
        const auto places = chart::keyPlaces();
        const auto labels = chart::labelsFor(layout, places);
        chart::requireCoverage(font, labels);
        const chart::Raster picture = chart::renderChart(font, chart::keyboardSlots(), labels);
        chart::writeFile(argv[5], chart::encodeRle8Bmp(picture));
        chart::writePng(picture, argv[6]);
        chart::writePrintableChart(argv[7], printFont, places, labels, words.at("ckb"), words.at("en"));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kbdchart: %s\n", error.what());
        return 1;
    }
    return 0;
}

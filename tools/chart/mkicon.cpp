// mkicon: writes the launcher's icon.
//
//   mkicon <icon.ico>
#include <cstdio>
#include <exception>

#include "icon.h"
#include "image_files.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkicon <icon.ico>\n");
        return 2;
    }
    try {
        chart::writeFile(argv[1], chart::encodeIco(chart::drawIcon()));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "mkicon: %s\n", error.what());
        return 1;
    }
    return 0;
}

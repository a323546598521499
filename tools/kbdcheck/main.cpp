// kbdcheck: checks a 64-bit keyboard-layout library and prints what it holds.
#include <cstdio>
#include <iostream>
#include <string_view>

#include "kbdcheck.h"
#include "render.h"

namespace {

constexpr int kClean = 0;
constexpr int kFindings = 1;
constexpr int kUnreadable = 2;

constexpr const char* kUsage = R"(usage: kbdcheck [--dump] [--json] <layout.dll>

Checks a 64-bit Windows keyboard-layout library for what the image loader and
the keyboard-layout loader rely on: no imports, no entry point (or one that
only returns), no writable section, a base relocation on every stored pointer
and on nothing else, every pointer inside the image, every list terminated,
counts and row sizes that agree, and valid sentinels and modifier columns.

  --dump   after the findings, print the whole layout: modifiers, character
           tables, every scan code with its virtual key, key name and what
           each column types (with Unicode names), ligatures, key names,
           the version block and the string resources
  --json   print the findings and the layout as one JSON object instead
  --help   print this text

Exit status: 0 no findings, 1 findings, 2 the file cannot be read as a
64-bit PE image (or the command line is wrong).
)";

int usageError(std::string_view message)
{
    std::cerr << "kbdcheck: " << message << "\n" << kUsage;
    return kUnreadable;
}

} // namespace

int main(int argc, char** argv)
{
    bool dump = false;
    bool json = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return kClean;
        }
        if (arg == "--dump")
            dump = true;
        else if (arg == "--json")
            json = true;
        else if (arg.starts_with("-"))
            return usageError("unknown option " + std::string(arg));
        else if (path)
            return usageError("more than one file given");
        else
            path = argv[i];
    }
    if (!path)
        return usageError("no file given");

    try {
        const auto bytes = kbdread::readFileBytes(path);
        const auto report = kbdcheck::check(bytes);
        if (json) {
            std::cout << kbdcheck::reportJson({path, bytes.size()}, report);
        } else {
            std::cout << path << ": " << kbdcheck::findingsText(report);
            if (dump)
                std::cout << kbdcheck::dumpText(report);
        }
        return report.findings.empty() ? kClean : kFindings;
    } catch (const kbdread::ReadError& error) {
        std::cerr << "kbdcheck: " << path << ": not a readable 64-bit layout library: " << error.what() << "\n";
        return kUnreadable;
    }
}

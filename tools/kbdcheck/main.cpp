// kbdcheck: checks a keyboard-layout library and prints what it holds.
#include <iostream>
#include <optional>
#include <string_view>

#include "kbdcheck.h"
#include "render.h"

namespace {

constexpr int kClean = 0;
constexpr int kFindings = 1;
constexpr int kUnreadable = 2;

constexpr const char* kUsage = R"(usage: kbdcheck [--form x64|x86|wow64|arm64] [--dump] [--json] <layout.dll>

Checks a Windows keyboard-layout library for what the image loader and the
keyboard-layout loader rely on: no imports, no entry point (or one that only
returns), no writable section, the export under its plain name, a base
relocation of the machine's type on every stored pointer and on nothing
else, every pointer inside the image, every list terminated, counts and row
sizes that agree, and valid sentinels and modifier columns. A finding whose
code is followed by (portability) is no fault of the format: readers of it
disagree there, and some of them lose part of the layout.

The library may be in any of four forms: x64 (x86-64), x86 (32-bit x86),
wow64 (32-bit x86 whose records have 64-bit-wide pointer fields, for 32-bit
programs on 64-bit Windows) and arm64. The machine comes from the header;
for a 32-bit x86 image the width of the pointer fields is found from the
base relocations in the descriptor record, and from which width the tables
read in.

  --form F force form F (x64, x86, wow64 or arm64) where detection guesses
           wrong; a form that does not fit the image is an error (status 2)
  --dump   after the findings, print the whole layout: its form, the
           modifiers, character tables, every scan code with its virtual
           key, key name and what each column types (with Unicode names),
           ligatures, key names, the version block and the string resources
  --json   print the findings and the layout as one JSON object instead
  --help   print this text

Exit status: 0 no findings, 1 findings (of either kind), 2 the file cannot
be read as a layout library image (of the form given), or the command line
is wrong.
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
    std::optional<kbdread::Form> form;
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
        else if (arg == "--form") {
            if (++i == argc)
                return usageError("--form needs a form: x64, x86, wow64 or arm64");
            const auto* named = kbdread::formNamed(argv[i]);
            if (!named)
                return usageError("unknown form " + std::string(argv[i]) + " (x64, x86, wow64 or arm64)");
            form = named->form;
        } else if (arg.starts_with("-"))
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
        const auto report = kbdcheck::check(bytes, form);
        if (json) {
            std::cout << kbdcheck::reportJson({path, bytes.size()}, report);
        } else {
            std::cout << path << ": " << kbdcheck::findingsText(report);
            if (dump)
                std::cout << kbdcheck::dumpText(report);
        }
        return report.findings.empty() ? kClean : kFindings;
    } catch (const kbdread::ReadError& error) {
        if (error.kind() == kbdread::ErrorKind::FileUnreadable) {
            std::cerr << "kbdcheck: " << error.what() << "\n";
            return kUnreadable;
        }
        std::cerr << "kbdcheck: " << path << ": not a readable layout library"
                  << (form ? std::string(" in the ") + kbdread::describe(*form).name + " form" : std::string())
                  << ": " << error.what() << "\n";
        return kUnreadable;
    } catch (const std::exception& error) {
        // Nothing the file holds should get here; if anything does, it is
        // still an answer about this file, not a crash.
        std::cerr << "kbdcheck: " << path << ": cannot be checked: " << error.what() << "\n";
        return kUnreadable;
    }
}

// The installer's command line. The launcher passes its own argument text
// followed by "/admin", so whatever comes before "/admin" is read by the
// same rules as the rest.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace setup {

enum class Action { Install, Uninstall, ShowUsage };

struct Options {
    Action action = Action::Install;
    bool allUsers = false;  // the layout for every profile too (an uninstall reaches them all anyway)
    bool quiet = false;
    std::optional<std::wstring> logPath;
};

struct ParsedArguments {
    std::optional<Options> options;  // empty when the command line is bad
    unsigned error = 0;              // why: a message of the string table
    std::wstring argument;           // the argument it names, if any
};

// Splits argument text the way the C run-time splits a command line:
// blanks separate, double quotes group, and backslashes escape a quote
// only when they come right before one.
std::vector<std::wstring> splitArguments(std::wstring_view text);

// Whether a path names a device rather than a file ("\\.\\PhysicalDrive0",
// "CON", "C:\\x\\nul.txt"): the log is never written there.
bool namesDevice(std::wstring_view path);

// What the log file, once opened, must not be, by what Windows says of it
// (GetFileType, and its attributes): anything but a plain file on a disk,
// and a link (a reparse point: a symbolic link or a junction may lead
// anywhere). 0, or the message that says why.
unsigned logFileProblem(std::uint32_t fileType, std::uint32_t attributes);

// Switches start with '/' or '-' and are matched without regard to case:
// /admin, /allusers, /uninstall, /quiet, /log <file>, /?. Nothing may
// follow that is not one of them.
ParsedArguments parseArguments(std::wstring_view argumentText);

}  // namespace setup

#include "arguments.h"

#include "resource.h"
#include "text.h"

namespace setup {
namespace {

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring_view trimBlanks(std::wstring_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

enum class Switch { Admin, AllUsers, Uninstall, Quiet, Log, Usage, None };

Switch switchNamed(std::wstring_view argument) {
    if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-'))
        return Switch::None;
    const std::wstring_view name = argument.substr(1);
    struct Row { std::wstring_view name; Switch which; };
    static constexpr Row switches[] = {
        {L"admin", Switch::Admin},   {L"allusers", Switch::AllUsers},
        {L"uninstall", Switch::Uninstall}, {L"quiet", Switch::Quiet},
        {L"log", Switch::Log},       {L"?", Switch::Usage},
    };
    for (const Row& row : switches) {
        if (equalNoCase(name, row.name))
            return row.which;
    }
    return Switch::None;
}

}  // namespace

bool namesDevice(std::wstring_view path) {
    // "\\.\" names devices; "\\?\" too, unless a drive or a share follows.
    if (path.starts_with(L"\\\\.\\") || path.starts_with(L"//./"))
        return true;
    if (path.starts_with(L"\\\\?\\")) {
        const std::wstring_view rest = path.substr(4);
        const bool drive = rest.size() >= 3 && rest[1] == L':' && rest[2] == L'\\';
        if (!drive && !(rest.size() > 4 && equalNoCase(rest.substr(0, 4), L"UNC\\")))
            return true;
    }
    // A reserved name opens the device in any folder, with any extension.
    const std::size_t separator = path.find_last_of(L"\\/:");
    std::wstring_view name = separator == std::wstring_view::npos ? path : path.substr(separator + 1);
    name = name.substr(0, name.find(L'.'));
    while (!name.empty() && name.back() == L' ')
        name.remove_suffix(1);
    static constexpr std::wstring_view devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const std::wstring_view device : devices) {
        if (equalNoCase(name, device))
            return true;
    }
    return name.size() == 4 && (equalNoCase(name.substr(0, 3), L"COM") || equalNoCase(name.substr(0, 3), L"LPT")) &&
           name[3] >= L'1' && name[3] <= L'9';
}

unsigned logFileProblem(std::uint32_t fileType, std::uint32_t attributes) {
    constexpr std::uint32_t fileTypeDisk = 1;
    constexpr std::uint32_t attributeDirectory = 0x10;
    constexpr std::uint32_t attributeDevice = 0x40;
    constexpr std::uint32_t attributeReparsePoint = 0x400;
    if (fileType != fileTypeDisk || (attributes & attributeDevice))
        return IDS_LOG_ON_DEVICE;
    if (attributes & (attributeDirectory | attributeReparsePoint))
        return IDS_LOG_ON_LINK;
    return 0;
}

std::vector<std::wstring> splitArguments(std::wstring_view text) {
    std::vector<std::wstring> arguments;
    std::size_t i = 0;
    for (;;) {
        while (i < text.size() && isBlank(text[i]))
            ++i;
        if (i == text.size())
            return arguments;
        std::wstring argument;
        bool quoted = false;
        while (i < text.size() && (quoted || !isBlank(text[i]))) {
            std::size_t backslashes = 0;
            while (i < text.size() && text[i] == L'\\') {
                ++backslashes;
                ++i;
            }
            if (i < text.size() && text[i] == L'"') {
                argument.append(backslashes / 2, L'\\');
                if (backslashes % 2 == 1) {
                    argument += L'"';
                } else if (quoted && i + 1 < text.size() && text[i + 1] == L'"') {
                    // "" inside quotes stands for one quote.
                    argument += L'"';
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                argument.append(backslashes, L'\\');
                if (i < text.size() && (quoted || !isBlank(text[i])))
                    argument += text[i++];
            }
        }
        arguments.push_back(std::move(argument));
    }
}

ParsedArguments parseArguments(std::wstring_view argumentText) {
    const std::vector<std::wstring> arguments = splitArguments(argumentText);
    Options options;
    bool uninstall = false;
    bool usage = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        // A quoted switch may carry the blank the launcher's user typed
        // inside the quotes: "/quiet " is /quiet.
        const std::wstring_view argument = trimBlanks(arguments[i]);
        switch (switchNamed(argument)) {
        case Switch::Admin:
            break;
        case Switch::AllUsers:
            options.allUsers = true;
            break;
        case Switch::Uninstall:
            uninstall = true;
            break;
        case Switch::Quiet:
            options.quiet = true;
            break;
        case Switch::Usage:
            usage = true;
            break;
        case Switch::Log:
            if (options.logPath)
                return {std::nullopt, IDS_LOG_TWICE, {}};
            if (i + 1 == arguments.size() || switchNamed(trimBlanks(arguments[i + 1])) != Switch::None ||
                trimBlanks(arguments[i + 1]).empty())
                return {std::nullopt, IDS_LOG_WITHOUT_FILE, {}};
            options.logPath = arguments[++i];
            if (namesDevice(*options.logPath))
                return {std::nullopt, IDS_LOG_ON_DEVICE, *options.logPath};
            break;
        case Switch::None:
            return {std::nullopt, IDS_UNKNOWN_ARGUMENT, arguments[i]};
        }
    }
    options.action = usage ? Action::ShowUsage : uninstall ? Action::Uninstall : Action::Install;
    return {options, 0, {}};
}

}  // namespace setup

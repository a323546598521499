#include "install_request.h"

namespace halvaro {

namespace {

constexpr std::wstring_view runAsAdministrator = L"runas";
constexpr std::wstring_view adminSwitch = L"/admin";

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

std::wstring moduleFolder(std::wstring_view modulePath) {
    std::size_t end = modulePath.size();
    while (end > 0 && !isSeparator(modulePath[end - 1]))
        --end;
    if (end == 0)
        return {};
    const std::size_t separator = end - 1;
    const bool driveRoot = separator > 0 && modulePath[separator - 1] == L':';
    return std::wstring(modulePath.substr(0, driveRoot ? end : separator));
}

std::wstring_view argumentText(std::wstring_view commandLine) {
    bool quoted = false;
    std::size_t i = 0;
    for (; i < commandLine.size(); ++i) {
        const wchar_t c = commandLine[i];
        if (c == L'"')
            quoted = !quoted;
        else if (!quoted && isBlank(c))
            break;
    }
    if (i < commandLine.size())
        ++i;
    return commandLine.substr(i);
}

std::wstring installerParameters(std::wstring_view arguments) {
    std::wstring parameters(arguments);
    if (!parameters.empty() && !isBlank(parameters.back()))
        parameters += L' ';
    parameters += adminSwitch;
    return parameters;
}

InstallRequest makeInstallRequest(std::wstring_view modulePath, std::wstring_view commandLine,
                                  std::wstring_view installer) {
    return {moduleFolder(modulePath) + std::wstring(installer),
            installerParameters(argumentText(commandLine)), std::wstring(runAsAdministrator),
            showNormal};
}

}  // namespace halvaro

#include "install_request.h"

namespace halvaro {

namespace {

constexpr std::wstring_view runAsAdministrator = L"runas";
constexpr std::wstring_view adminSwitch = L"/admin";

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

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

std::wstring installerParameters(std::wstring_view arguments) {
    std::wstring parameters(arguments);
    if (!parameters.empty() && !win32::isBlank(parameters.back()))
        parameters += L' ';
    parameters += adminSwitch;
    return parameters;
}

InstallRequest makeInstallRequest(std::wstring_view modulePath, std::wstring_view commandLine,
                                  std::wstring_view installer) {
    return {moduleFolder(modulePath) + std::wstring(installer),
            installerParameters(win32::argumentText(commandLine)), std::wstring(runAsAdministrator),
            showNormal};
}

}  // namespace halvaro

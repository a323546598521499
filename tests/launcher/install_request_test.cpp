#include "install_request.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace halvaro {
namespace {

std::string narrow(std::wstring_view text) {
    std::string out;
    for (const wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out += escaped;
        }
    }
    return out;
}

TEST(InstallRequest, ParametersFromTheCommandLine) {
    struct Row { std::wstring_view commandLine, parameters; };
    const Row rows[] = {
        {L"Halvaro.exe", L"/admin"},
        {L"\"C:\\Kurdish layout\\Halvaro.exe\"", L"/admin"},
        {L"\"C:\\Kurdish layout\\Halvaro.exe\" ", L"/admin"},
        {L"Halvaro.exe x", L"x /admin"},
        {L"Halvaro.exe x ", L"x /admin"},
        {L"Halvaro.exe x\t", L"x\t/admin"},
        {L"Halvaro.exe\tx", L"x /admin"},
        {L"Halvaro.exe  x", L" x /admin"},
        {L"\"C:\\Kurdish layout\\Halvaro.exe\" /quiet", L"/quiet /admin"},
        {L"C:\\\"Kurdish layout\"\\Halvaro.exe y", L"y /admin"},
        {L"Halvaro.exe \"a b\"  c\\\"d\"", L"\"a b\"  c\\\"d\" /admin"},
        {L"\"C:\\unclosed quote\\Halvaro.exe x", L"/admin"},
    };
    for (const Row& row : rows) {
        const InstallRequest request =
            makeInstallRequest(L"C:\\L\\Halvaro.exe", row.commandLine, olderWindowsInstaller);
        EXPECT_EQ(request.parameters, row.parameters)
            << "command line [" << narrow(row.commandLine) << "] gave ["
            << narrow(request.parameters) << "]";
    }
}

TEST(InstallRequest, FileFromTheModulePath) {
    const std::wstring kurdishFolder =
        L"C:\\"
        L"\x0695\x06B5\x06C6\x06CE"  // REH WITH SMALL V BELOW, LAM WITH SMALL V, OE, E
        L"\\";
    const std::wstring longFolder = L"\\\\?\\D:\\" + std::wstring(300, L'a') + L"\\b";

    struct Row { std::wstring modulePath; std::wstring_view installer; std::wstring file; };
    const Row rows[] = {
        {L"C:\\Program Files\\Kurdish\\Halvaro.exe", olderWindowsInstaller,
         L"C:\\Program Files\\Kurdish\\setup7.exe"},
        {L"C:\\Program Files\\Kurdish\\Halvaro.exe", newerWindowsInstaller,
         L"C:\\Program Files\\Kurdish\\setup8.exe"},
        {L"R:\\Halvaro.exe", newerWindowsInstaller, L"R:\\\\setup8.exe"},
        {L"R:\\Halvaro.exe", olderWindowsInstaller, L"R:\\\\setup7.exe"},
        {L"\\\\server\\share\\Halvaro.exe", olderWindowsInstaller,
         L"\\\\server\\share\\setup7.exe"},
        {kurdishFolder + L"Halvaro.exe", olderWindowsInstaller, kurdishFolder + L"setup7.exe"},
        {longFolder + L"\\Halvaro.exe", newerWindowsInstaller, longFolder + L"\\setup8.exe"},
    };
    for (const Row& row : rows) {
        const InstallRequest request = makeInstallRequest(row.modulePath, L"Halvaro.exe", row.installer);
        EXPECT_EQ(request.file, row.file)
            << "module [" << narrow(row.modulePath) << "] gave [" << narrow(request.file) << "]";
    }
    EXPECT_GT(longFolder.size(), 260u);
}

TEST(InstallRequest, AsksForElevationInANormalWindow) {
    const InstallRequest request =
        makeInstallRequest(L"C:\\L\\Halvaro.exe", L"Halvaro.exe", newerWindowsInstaller);
    EXPECT_EQ(request.verb, L"runas");
    EXPECT_EQ(request.showMode, 1);
}

// A second activation arrives at each point of the first one's run; the
// starter must ask for exactly one start, of the first button's installer,
// and close the window once.
TEST(InstallerStarter, StartsOnceHoweverManyActivationsArrive) {
    enum class Arrives { afterTheWindowClosed, duringTheRequest, whileTheWindowCloses };
    struct Row {
        const char* name;
        Arrives when;
        std::wstring_view secondInstaller;
    };
    const Row rows[] = {
        {"the same button again after the window closed", Arrives::afterTheWindowClosed,
         olderWindowsInstaller},
        {"the same button while the shell handles the request", Arrives::duringTheRequest,
         olderWindowsInstaller},
        {"the other button while the shell handles the request", Arrives::duringTheRequest,
         newerWindowsInstaller},
        {"the other button while the window closes", Arrives::whileTheWindowCloses,
         newerWindowsInstaller},
    };
    for (const Row& row : rows) {
        InstallerStarter starter;
        std::vector<std::wstring> requested;
        int closes = 0;
        bool secondArrived = false;
        auto activate = [&](std::wstring_view installer, auto& self) -> void {
            const auto arriveNow = [&](Arrives now) {
                if (row.when == now && !secondArrived) {
                    secondArrived = true;
                    self(row.secondInstaller, self);
                }
            };
            starter.startAndClose(
                L"C:\\L\\Halvaro.exe", L"Halvaro.exe", installer,
                [&](const InstallRequest& request) {
                    requested.push_back(request.file);
                    arriveNow(Arrives::duringTheRequest);
                },
                [&] {
                    ++closes;
                    arriveNow(Arrives::whileTheWindowCloses);
                });
        };
        activate(olderWindowsInstaller, activate);
        if (row.when == Arrives::afterTheWindowClosed)
            activate(row.secondInstaller, activate);

        EXPECT_EQ(requested, std::vector<std::wstring>{L"C:\\L\\setup7.exe"})
            << row.name << ": " << requested.size() << " start requests";
        EXPECT_EQ(closes, 1) << row.name;
    }
}

}  // namespace
}  // namespace halvaro

#include "facts.h"

#include <algorithm>

#include "text.h"

namespace setup {

std::optional<Machine> machineOfArchitecture(std::uint16_t architecture) {
    switch (architecture) {
    case 0:  // PROCESSOR_ARCHITECTURE_INTEL
        return Machine::X86;
    case 9:  // PROCESSOR_ARCHITECTURE_AMD64
        return Machine::X64;
    case 12:  // PROCESSOR_ARCHITECTURE_ARM64
        return Machine::Arm64;
    default:
        return std::nullopt;
    }
}

std::optional<Machine> machineOfImageMachine(std::uint16_t imageMachine) {
    switch (imageMachine) {
    case 0x014C:  // IMAGE_FILE_MACHINE_I386
        return Machine::X86;
    case 0x8664:  // IMAGE_FILE_MACHINE_AMD64
        return Machine::X64;
    case 0xAA64:  // IMAGE_FILE_MACHINE_ARM64
        return Machine::Arm64;
    default:
        return std::nullopt;
    }
}

bool isServiceAccount(std::wstring_view sid) {
    static constexpr std::wstring_view services[] = {L"S-1-5-18", L"S-1-5-19", L"S-1-5-20"};
    return std::any_of(std::begin(services), std::end(services), [&](std::wstring_view s) { return equalNoCase(s, sid); });
}

ScreenUser userAtTheScreen(const std::optional<std::wstring>& processSid, const std::optional<SessionUser>& session) {
    if (!session || (!session->name.empty() && !session->sid))
        return {std::nullopt, WhyNoUser::NotIdentified};
    if (session->sid)
        return {User{*session->sid, processSid && equalNoCase(*processSid, *session->sid)}};
    if (!processSid || isServiceAccount(*processSid))
        return {};
    return {User{*processSid, true}};
}

FileState SystemFacts::file(const std::wstring& path) const {
    for (const FileFact& fact : files) {
        if (equalNoCase(fact.path, path))
            return fact.state;
    }
    return FileState::Absent;
}

bool SystemFacts::folderExists(const std::wstring& path) const {
    return std::any_of(folders.begin(), folders.end(), [&](const std::wstring& f) { return equalNoCase(f, path); });
}

}  // namespace setup

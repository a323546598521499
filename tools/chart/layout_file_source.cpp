#include "layout_file_source.h"

namespace chart {

namespace {

constexpr std::uint8_t NoVirtualKey = 0xFF;

}  // namespace

std::u16string LayoutFileSource::characters(ScanCode scan, unsigned modifierBits) const
{
    const auto mapped =
        layout_.mapScanCode(scan.code, scan.extended ? kbdread::Prefix::E0 : kbdread::Prefix::None);
    if (!mapped)
        return {};
    const auto virtualKey = static_cast<std::uint8_t>(*mapped & 0xFF);
    if (virtualKey == NoVirtualKey || virtualKey == 0)
        return {};
    const kbdread::KeyResult typed = layout_.characters(virtualKey, modifierBits);
    return typed.outcome == kbdread::KeyOutcome::Characters ? typed.characters : std::u16string{};
}

std::optional<std::u16string> LayoutFileSource::keyName(ScanCode scan) const
{
    for (const kbdread::KeyName& name : scan.extended ? layout_.keyNamesExt : layout_.keyNames)
        if (name.scanCode == scan.code)
            return name.text;
    return std::nullopt;
}

}  // namespace chart

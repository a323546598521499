#include "payload.h"

#include "text.h"
#include "version.h"
#include "version_block.h"

namespace setup {

std::wstring resourceName(Form form) {
    const char* name = layout_forms::factsOf(form).name;
    return L"KURD_DLL_" + std::wstring(name, name + std::char_traits<char>::length(name));
}

std::optional<std::wstring> imageProblem(const EmbeddedImage& image, std::span<const std::uint8_t> unpacked) {
    const std::wstring name = resourceName(image.form);
    if (unpacked.size() < image.offset || unpacked.size() - image.offset < image.size)
        return name + L" is missing from it";
    if (sha256(unpacked.subspan(image.offset, image.size)) != image.digest)
        return name + L" is not the image it was built with";
    return std::nullopt;
}

std::optional<std::uint16_t> languageIdOfLocale(std::wstring_view tag) {
    struct Row { std::wstring_view tag; std::uint16_t languageId; };
    static constexpr Row locales[] = {
        {L"ar-SA", 0x0401}, {L"ar-IQ", 0x0801}, {L"ar-EG", 0x0C01}, {L"ar-LY", 0x1001},
        {L"ar-DZ", 0x1401}, {L"ar-MA", 0x1801}, {L"ar-TN", 0x1C01}, {L"ar-OM", 0x2001},
        {L"ar-YE", 0x2401}, {L"ar-SY", 0x2801}, {L"ar-JO", 0x2C01}, {L"ar-LB", 0x3001},
        {L"ar-KW", 0x3401}, {L"ar-AE", 0x3801}, {L"ar-BH", 0x3C01}, {L"ar-QA", 0x4001},
        {L"ku-Arab-IQ", 0x0492},
    };
    for (const Row& row : locales) {
        if (equalNoCase(row.tag, tag))
            return row.languageId;
    }
    return std::nullopt;
}

bool isThisLayout(std::span<const std::uint8_t> versionBlock) {
    const auto field = [&](std::wstring_view key) { return versionString(versionBlock, key).value_or(L""); };
    return equalNoCase(field(L"OriginalFilename"), L"kurd") && field(L"CompanyName") == L"" PRODUCT_MAKER;
}

}  // namespace setup

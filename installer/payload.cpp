#include "payload.h"

#include <algorithm>

#include "pe_image.h"
#include "text.h"
#include "version.h"

namespace setup {

const FormInfo& formInfo(Form form) {
    return *std::find_if(std::begin(forms), std::end(forms),
                         [form](const FormInfo& info) { return info.form == form; });
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

ImageCheck checkImage(Form form, std::span<const std::uint8_t> bytes, const Sha256Digest& expected) {
    const FormInfo& info = formInfo(form);
    const std::wstring name(info.resourceName);
    if (bytes.empty())
        return {std::nullopt, name + L" is missing from the installer"};
    if (sha256(bytes) != expected)
        return {std::nullopt, name + L" does not match the digest recorded when the installer was built"};
    const auto image = PeImage::read(bytes);
    if (!image)
        return {std::nullopt, name + L" is not a Windows image"};
    if (image->machine() != info.machine || !image->isDll())
        return {std::nullopt, name + L" is not a library for the expected processor"};
    const std::vector<std::string> exports = image->exportNames();
    if (std::find(exports.begin(), exports.end(), "KbdLayerDescriptor") == exports.end())
        return {std::nullopt, name + L" does not export KbdLayerDescriptor"};
    const auto text = image->string(1000);
    const auto tag = image->string(1200);
    const auto languageId = tag ? languageIdOfLocale(*tag) : std::nullopt;
    if (!text || text->empty() || !languageId)
        return {std::nullopt, name + L" lacks the layout's name or a known locale (strings 1000 and 1200)"};
    return {LayoutStrings{*text, *tag, *languageId}, {}};
}

bool isThisLayout(std::span<const std::uint8_t> fileBytes) {
    const auto image = PeImage::read(fileBytes);
    if (!image)
        return false;
    const auto strings = image->versionStrings();
    const auto field = [&strings](const wchar_t* key) {
        const auto found = strings.find(key);
        return found == strings.end() ? std::wstring() : found->second;
    };
    return equalNoCase(field(L"OriginalFilename"), L"kurd") && field(L"CompanyName") == L"" PRODUCT_MAKER;
}

}  // namespace setup

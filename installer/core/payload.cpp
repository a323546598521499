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

bool isThisLayout(std::span<const std::uint8_t> versionBlock) {
    const auto field = [&](std::wstring_view key) { return versionString(versionBlock, key).value_or(L""); };
    return equalNoCase(field(L"OriginalFilename"), L"kurd") && field(L"CompanyName") == L"" PRODUCT_MAKER;
}

}  // namespace setup

// The checks every embedded layout image passes before the installer
// touches anything, run on the built images of every form and on damaged
// copies; the digest they rest on; and how a Kurd.dll already on a system
// is told apart from another library of that name.
#include "payload.h"
#include "pe_image.h"
#include "sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "built_images.h"

namespace setup {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string narrow(std::wstring_view text) { return std::string(text.begin(), text.end()); }

std::string hex(const Sha256Digest& digest) {
    std::string text;
    for (const std::uint8_t byte : digest) {
        text += "0123456789abcdef"[byte >> 4];
        text += "0123456789abcdef"[byte & 15];
    }
    return text;
}

// The built images, by form; the reader numbers the forms as we do.
static_assert(static_cast<int>(kbdread::Form::X64) == static_cast<int>(Form::X64) &&
              static_cast<int>(kbdread::Form::X86) == static_cast<int>(Form::X86) &&
              static_cast<int>(kbdread::Form::Wow64) == static_cast<int>(Form::Wow64) &&
              static_cast<int>(kbdread::Form::Arm64) == static_cast<int>(Form::Arm64));
const std::map<Form, Bytes>& builtImages() {
    static const std::map<Form, Bytes> images = [] {
        std::map<Form, Bytes> read;
        for (const FormInfo& info : forms)
            read[info.form] = kbdread::readFileBytes(builtImage(static_cast<kbdread::Form>(info.form)));
        return read;
    }();
    return images;
}

const Bytes& image(Form form) { return builtImages().at(form); }

TEST(Sha256, KnownDigests) {
    struct Row { std::string input; const char* digest; };
    const Row rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        // Around the block edges: the length must fit after the 0x80 byte.
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
        {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
    };
    for (const Row& row : rows) {
        const Bytes bytes(row.input.begin(), row.input.end());
        EXPECT_EQ(hex(sha256(bytes)), row.digest) << row.input.size() << " bytes";
    }
}

TEST(Payload, EveryBuiltFormPasses) {
    for (const FormInfo& info : forms) {
        const ImageCheck check = checkImage(info.form, image(info.form), sha256(image(info.form)));
        ASSERT_TRUE(check.strings) << narrow(info.resourceName) << ": " << narrow(check.problem);
        EXPECT_EQ(check.strings->layoutText, L"Arabic (101) - Kurdish") << narrow(info.resourceName);
        EXPECT_EQ(check.strings->localeTag, L"ar-JO") << narrow(info.resourceName);
        EXPECT_EQ(check.strings->languageId, 0x2C01) << narrow(info.resourceName);
        EXPECT_TRUE(isThisLayout(image(info.form))) << narrow(info.resourceName);
    }
}

// Damage to the x64 image; unless a row keeps the recorded digest, the
// digest is taken of the damaged bytes, so that the check behind it is
// what fails.
void replace(Bytes& bytes, std::string_view from, std::string_view to) {
    const auto at = std::search(bytes.begin(), bytes.end(), from.begin(), from.end());
    ASSERT_NE(at, bytes.end()) << "no " << from;
    std::copy(to.begin(), to.end(), at);
}

std::size_t peHeader(const Bytes& bytes) { return bytes[0x3C] | bytes[0x3D] << 8; }

TEST(Payload, DamageIsRefusedForWhatItIs) {
    struct Row {
        const char* name;
        Form checkedAs;
        std::function<void(Bytes&)> damage;
        bool keepRecordedDigest;
        std::wstring_view problem;
    };
    const Row rows[] = {
        {"one bit flipped", Form::X64, [](Bytes& b) { b[b.size() / 2] ^= 1; }, true, L"digest"},
        {"missing", Form::X64, [](Bytes& b) { b.clear(); }, false, L"missing"},
        {"cut short", Form::X64, [](Bytes& b) { b.resize(0x100); }, false, L"not a Windows image"},
        {"no MZ", Form::X64, [](Bytes& b) { b[0] = 'X'; }, false, L"not a Windows image"},
        {"another machine", Form::X64, [](Bytes& b) { b[peHeader(b) + 4] = 0x4C; b[peHeader(b) + 5] = 0x01; }, false,
         L"processor"},
        {"not a DLL", Form::X64, [](Bytes& b) { b[peHeader(b) + 23] &= ~0x20; }, false, L"processor"},
        {"checked as the wrong form", Form::Arm64, [](Bytes&) {}, false, L"processor"},
        {"no KbdLayerDescriptor", Form::X64, [](Bytes& b) { replace(b, "KbdLayerDescriptor", "KbdLayerDescripton"); },
         false, L"KbdLayerDescriptor"},
        {"an unknown locale", Form::X64,
         [](Bytes& b) { replace(b, std::string_view("a\0r\0-\0J\0O\0", 10), std::string_view("x\0x\0-\0J\0O\0", 10)); },
         false, L"locale"},
    };
    for (const Row& row : rows) {
        Bytes bytes = image(Form::X64);
        row.damage(bytes);
        const Sha256Digest digest = row.keepRecordedDigest ? sha256(image(Form::X64)) : sha256(bytes);
        const ImageCheck check = checkImage(row.checkedAs, bytes, digest);
        EXPECT_FALSE(check.strings) << row.name;
        EXPECT_NE(check.problem.find(row.problem), std::wstring::npos) << row.name << ": " << narrow(check.problem);
    }
}

TEST(Payload, SurvivesDamageAnywhere) {
    for (const Form form : {Form::X64, Form::Wow64}) {
        const Bytes& pristine = image(form);
        for (std::size_t at = 0; at < pristine.size(); ++at) {
            for (const std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
                Bytes bytes = pristine;
                bytes[at] = value;
                checkImage(form, bytes, sha256(bytes));
                isThisLayout(bytes);
            }
            const Bytes cut(pristine.begin(), pristine.begin() + static_cast<std::ptrdiff_t>(at));
            checkImage(form, cut, sha256(cut));
            isThisLayout(cut);
        }
    }
}

TEST(Payload, KurdDllOfAnotherMaker) {
    struct Row { const char* name; std::function<void(Bytes&)> damage; };
    const Row rows[] = {
        {"another maker",
         [](Bytes& b) { replace(b, std::string_view("C\0e\0n\0t\0r\0a\0l\0", 14), std::string_view("X\0e\0n\0t\0r\0a\0l\0", 14)); }},
        {"another original name",
         [](Bytes& b) { replace(b, std::string_view("k\0u\0r\0d\0\0\0", 10), std::string_view("k\0b\0d\0x\0\0\0", 10)); }},
        {"no version block", [](Bytes& b) { replace(b, std::string_view("V\0S\0_\0V\0E\0R\0", 12), std::string_view("X\0S\0_\0V\0E\0R\0", 12)); }},
        {"not an image", [](Bytes& b) { b.assign({'n', 'o', 't', 'e', 's'}); }},
    };
    for (const Row& row : rows) {
        Bytes bytes = image(Form::X64);
        row.damage(bytes);
        EXPECT_FALSE(isThisLayout(bytes)) << row.name;
    }
}

}  // namespace
}  // namespace setup

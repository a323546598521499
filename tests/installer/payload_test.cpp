// What the installer checks of what it carries before it touches
// anything: each embedded image is the one the build recorded (its size
// and digest, and the digest they rest on); and how a Kurd.dll already on
// a system is told apart from another library of that name, by its
// version block.
#include "fake_system.h"
#include "payload.h"
#include "sha256.h"
#include "unpack.h"
#include "version_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>

#include "built_images.h"
#include "pe_image.h"
#include "resources.h"

namespace setup {
namespace {

using Bytes = std::vector<std::uint8_t>;

using testing::narrow;

std::string hex(const Sha256Digest& digest) {
    std::string text;
    for (const std::uint8_t byte : digest) {
        text += "0123456789abcdef"[byte >> 4];
        text += "0123456789abcdef"[byte & 15];
    }
    return text;
}

const Bytes& image(Form form) {
    static std::map<Form, Bytes> images;
    if (!images.contains(form))
        images[form] = kbdread::readFileBytes(builtImage(form));
    return images.at(form);
}

// A built image's version block, read by the host reader as Windows
// hands it to the installer.
Bytes versionBlockOf(Form form) {
    const kbdread::PeInfo pe = kbdread::parseHeaders(kbdread::ByteView(image(form)));
    const Bytes mapped = kbdread::mapImage(image(form), pe);
    for (const kbdread::ResourceEntry& entry : kbdread::readResources(kbdread::ByteView(mapped), pe).entries) {
        if (entry.type == kbdread::kResourceTypeVersion)
            return Bytes(mapped.begin() + entry.rva, mapped.begin() + entry.rva + entry.size);
    }
    ADD_FAILURE() << "no version block in " << layout_forms::factsOf(form).name;
    return {};
}

void replace(Bytes& bytes, std::string_view from, std::string_view to) {
    const auto at = std::search(bytes.begin(), bytes.end(), from.begin(), from.end());
    ASSERT_NE(at, bytes.end()) << "no " << from;
    std::copy(to.begin(), to.end(), at);
}

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

// The built images one after the other, as the installer unpacks them.
const Bytes& allImages() {
    static const Bytes all = [] {
        Bytes bytes;
        for (const layout_forms::FormFacts& facts : layout_forms::kForms)
            bytes.insert(bytes.end(), image(facts.form).begin(), image(facts.form).end());
        return bytes;
    }();
    return all;
}

TEST(Payload, TheImagesUnpackAsTheyWereBuilt) {
    std::ifstream file(KURD_PACKED_IMAGES, std::ios::binary);
    const Bytes packed((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(packed.empty()) << KURD_PACKED_IMAGES;
    EXPECT_LT(packed.size(), allImages().size() / 4) << "the images hardly packed";
    EXPECT_EQ(unpack(packed, allImages().size()), allImages());
    // Any damage is refused, or unpacks to other bytes, never past either end.
    struct Row { const char* name; std::function<void(Bytes&)> damage; std::size_t size; };
    const Row rows[] = {
        {"a byte less", [](Bytes& b) { b.pop_back(); }, allImages().size()},
        {"a byte more", [](Bytes& b) { b.push_back(0); }, allImages().size()},
        {"asked for a byte more", [](Bytes&) {}, allImages().size() + 1},
        {"asked for a byte less", [](Bytes&) {}, allImages().size() - 1},
        // All ones: the first bit says copy, the next repeat, with no copy before.
        {"a copy from before the start", [](Bytes& b) { b.assign(b.size(), 0xFF); }, allImages().size()},
        {"nothing", [](Bytes& b) { b.clear(); }, allImages().size()},
    };
    for (const Row& row : rows) {
        Bytes damaged = packed;
        row.damage(damaged);
        EXPECT_EQ(unpack(damaged, row.size), std::nullopt) << row.name;
    }
    for (std::size_t at = 0; at < packed.size(); at += 7) {
        Bytes damaged = packed;
        damaged[at] ^= 0x5A;
        const auto unpacked = unpack(damaged, allImages().size());
        EXPECT_TRUE(!unpacked || unpacked->size() == allImages().size()) << "byte " << at;
    }
}

TEST(Payload, TheImageTheBuildRecorded) {
    std::uint32_t offset = 0;
    for (const layout_forms::FormFacts& facts : layout_forms::kForms) {
        const Bytes& bytes = image(facts.form);
        const EmbeddedImage recorded{facts.form, offset, static_cast<std::uint32_t>(bytes.size()), sha256(bytes)};
        offset += recorded.size;
        EXPECT_EQ(imageProblem(recorded, allImages()), std::nullopt) << facts.name;
        struct Row { const char* name; std::function<void(Bytes&)> damage; std::wstring_view problem; };
        const Row rows[] = {
            {"one bit flipped", [&](Bytes& b) { b[recorded.offset + recorded.size / 2] ^= 1; }, L"not the image"},
            {"cut short", [&](Bytes& b) { b.resize(recorded.offset + recorded.size - 1); }, L"missing"},
            {"nothing", [](Bytes& b) { b.clear(); }, L"missing"},
        };
        for (const Row& row : rows) {
            Bytes damaged = allImages();
            row.damage(damaged);
            const auto problem = imageProblem(recorded, damaged);
            ASSERT_TRUE(problem) << facts.name << ", " << row.name;
            EXPECT_NE(problem->find(row.problem), std::wstring::npos) << facts.name << ", " << narrow(*problem);
            EXPECT_NE(problem->find(resourceName(facts.form)), std::wstring::npos) << facts.name << ", " << row.name;
        }
    }
    EXPECT_EQ(resourceName(Form::Wow64), L"KURD_DLL_wow64");
}

TEST(Payload, AKurdDllOfThisLayoutOrAnother) {
    for (const layout_forms::FormFacts& facts : layout_forms::kForms)
        EXPECT_TRUE(isThisLayout(versionBlockOf(facts.form))) << facts.name;
    struct Row { const char* name; std::function<void(Bytes&)> damage; };
    const Row rows[] = {
        {"another maker",
         [](Bytes& b) { replace(b, std::string_view("C\0e\0n\0t\0r\0a\0l\0", 14), std::string_view("X\0e\0n\0t\0r\0a\0l\0", 14)); }},
        {"another original name",
         [](Bytes& b) { replace(b, std::string_view("k\0u\0r\0d\0\0\0", 10), std::string_view("k\0b\0d\0x\0\0\0", 10)); }},
        {"not a version block", [](Bytes& b) { replace(b, std::string_view("V\0S\0_\0V\0E\0R\0", 12), std::string_view("X\0S\0_\0V\0E\0R\0", 12)); }},
        {"no block at all", [](Bytes& b) { b.clear(); }},
    };
    for (const Row& row : rows) {
        Bytes block = versionBlockOf(Form::X64);
        row.damage(block);
        EXPECT_FALSE(isThisLayout(block)) << row.name;
    }
    // Every length in the block is checked: any byte changed, or the block
    // cut anywhere, reads as something or nothing, never past its end.
    const Bytes pristine = versionBlockOf(Form::X64);
    for (std::size_t at = 0; at < pristine.size(); ++at) {
        for (const std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
            Bytes block = pristine;
            block[at] = value;
            versionString(block, L"CompanyName");
        }
        versionString(std::span(pristine).first(at), L"CompanyName");
    }
}

}  // namespace
}  // namespace setup

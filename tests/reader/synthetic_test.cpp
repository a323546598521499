// The reader and the validator on the synthetic layout (synthetic/), in
// every form: what its keys type, its dead keys and far-east tables, read
// with no finding; then damage to what only it has, each with the finding
// (code, field, place) it calls for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "built_images.h"
#include "kbdcheck.h"
#include "render.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using kbdread::Form;
using kbdread::KeyOutcome;
using kbdread::PointerRole;

struct Synthetic : BuiltImage {
    const kbdread::CharRow& row(std::uint8_t virtualKey, std::size_t after = 0) const
    {
        for (const auto& table : layout.charTables)
            for (std::size_t r = 0; r < table.rows.size(); ++r)
                if (table.rows[r].virtualKey == virtualKey && !table.rows[r].continuation)
                    return table.rows.at(r + after);
        throw std::logic_error("no row for the key");
    }
};

const Synthetic& synthetic(Form form)
{
    return readBuiltImage<Synthetic>(form, SYNTHETIC_IMAGES_MANIFEST);
}

class Synthetic_ : public testing::TestWithParam<Form> {};
INSTANTIATE_TEST_SUITE_P(Forms, Synthetic_, everyForm(), FormName());

TEST_P(Synthetic_, ReadsWithNoFindings)
{
    const auto report = kbdcheck::check(synthetic(GetParam()).bytes);
    EXPECT_EQ(kbdcheck::findingsText(report), "no findings\n");
}

// What the layout's source says each key types.
TEST_P(Synthetic_, KeysTypeWhatTheTablesSay)
{
    constexpr std::uint8_t VK_OEM_PLUS = 0xBB, VK_OEM_6 = 0xDD;
    struct Row {
        std::uint8_t virtualKey;
        unsigned modBits; // Shift 1, Ctrl 2, Alt 4, Kana 8
        bool capsLock;
        KeyOutcome outcome;
        std::u16string characters; // for a dead key: its dead character
    };
    const Row rows[] = {
        {'W', 0, false, KeyOutcome::Characters, u"ab"},                  // ligature, column 0
        {'W', 1, false, KeyOutcome::Characters, u"W"},
        {'W', 2, false, KeyOutcome::Characters, u"xyz"},                 // ligature, column 2
        {'W', 15, false, KeyOutcome::Characters, u"\xD83D\xDE00\x0301"}, // the last combination, column 5
        {'Q', 1, false, KeyOutcome::Characters, u"Que!"},                // all four cells
        {'Q', 3, false, KeyOutcome::Nothing, u""},                       // Shift+Ctrl has no column
        {'Q', 6, false, KeyOutcome::Characters, u"@"},
        {'E', 0, true, KeyOutcome::Characters, u"E"},                    // SGCAPS: the second row
        {'E', 1, true, KeyOutcome::Characters, u"e"},
        {'E', 0, false, KeyOutcome::Characters, u"e"},
        {'A', 6, true, KeyOutcome::Characters, u"\x00C6"},
        {'Q', 0, true, KeyOutcome::Characters, u"q"},                    // CAPLOK alone changes nothing here
        {'R', 0, false, KeyOutcome::Dead, u"\x00B4"},
        {'R', 1, false, KeyOutcome::Dead, u"^"},
        {'R', 6, false, KeyOutcome::Dead, u"\x00A8"},
        {'R', 7, false, KeyOutcome::Dead, u"~"},
        {'R', 2, false, KeyOutcome::Nothing, u""},
        {VK_OEM_PLUS, 0, false, KeyOutcome::Dead, u"\x02DD"},
        {VK_OEM_6, 0, false, KeyOutcome::Dead, u"~"},
        {'S', 15, false, KeyOutcome::Characters, u"\x0100"},
        {0xFF, 0, false, KeyOutcome::Nothing, u""},                      // second rows are no key's
    };
    const kbdread::Layout& layout = synthetic(GetParam()).layout;
    for (const Row& row : rows) {
        const auto result = layout.characters(row.virtualKey, row.modBits, row.capsLock);
        const std::string name = "VK " + std::to_string(row.virtualKey) + " bits " + std::to_string(row.modBits) +
                                 (row.capsLock ? " with Caps Lock" : "");
        EXPECT_EQ(static_cast<int>(result.outcome), static_cast<int>(row.outcome)) << name;
        EXPECT_TRUE(result.characters == row.characters) << name;
    }
}

TEST_P(Synthetic_, DeadKeysNamesAndFarEastTables)
{
    const kbdread::Layout& layout = synthetic(GetParam()).layout;
    EXPECT_EQ(layout.deadKeys.size(), 9u + 280u);
    struct Row {
        char16_t accent, base, composed;
        std::uint16_t flags;
    };
    const Row rows[] = {
        {0x00B4, u'a', 0x00E1, 0},
        {0x00A8, 0x0100, 0x01DE, 0}, // a base character whose low byte is zero
        {u'^', 0x00B4, 0x1EA5, 1},   // chained
        {0x02DD, 0x0400, 0x0400, 0},  // first and last of the long run
        {0x02DD, 0x0517, 0x0517, 0},
    };
    for (const Row& row : rows) {
        const auto* entry = layout.deadKeyEntry(row.accent, row.base);
        ASSERT_NE(entry, nullptr) << "accent " << int{row.accent} << " base " << int{row.base};
        EXPECT_EQ(entry->composed, row.composed) << "accent " << int{row.accent} << " base " << int{row.base};
        EXPECT_EQ(entry->flags, row.flags) << "accent " << int{row.accent} << " base " << int{row.base};
    }
    EXPECT_EQ(layout.deadKeyEntry(0x02DD, 0x0518), nullptr);

    const std::u16string names[] = {u"\x00B4" u"ACUTE", u"\x00A8" u"DIAERESIS", u"^CIRCUMFLEX", u"~TILDE",
                                    u"\x02DD" u"DOUBLE ACUTE"};
    ASSERT_EQ(layout.deadKeyNames.size(), std::size(names));
    for (std::size_t i = 0; i < std::size(names); ++i)
        EXPECT_TRUE(layout.deadKeyNames[i].text == names[i]) << "dead-key name " << i;

    ASSERT_TRUE(layout.nls.has_value());
    EXPECT_EQ(layout.nls->oemIdentifier, 0x07);
    EXPECT_EQ(layout.nls->layoutInformation, 0x0011);
    ASSERT_EQ(layout.nls->vkToF.size(), 2u);
    EXPECT_EQ(layout.nls->vkToF[0].virtualKey, 0x15);
    EXPECT_EQ(layout.nls->vkToF[0].procSwitch, 0x08);
    EXPECT_EQ(layout.nls->vkToF[0].proc[5].param, 5u);
    EXPECT_EQ(layout.nls->vkToF[0].procAlt[7].index, 4);
    EXPECT_EQ(layout.nls->vkToF[0].procAlt[7].param, 0x17u);
    EXPECT_EQ(layout.nls->vkToF[1].proc[7].param, 0xFFu);
    EXPECT_EQ(layout.nls->mouseVKeys, (std::vector<std::uint16_t>{0x0C, 0x21, 0x16F}));
}

// The variant whose key names start with an entry of scan code 0 and an
// empty name: every name is read, and that entry is reported once, as a
// difference between readers, with the relocations of the names after it
// accounted for.
TEST_P(Synthetic_, KeyNamesAfterAnEntryOfScanCodeZero)
{
    const auto& image = readBuiltImage<Synthetic>(GetParam(), SYNTHETIC_ZERO_NAME_MANIFEST);
    const std::pair<std::uint8_t, std::u16string> names[] = {
        {0x00, u""}, {0x01, u"Esc"}, {0x0F, u"Tab \xD83D\xDE00"}, {0x1C, u"Enter"}, {0x1D, u"Ctrl \x0100"}};
    ASSERT_EQ(image.layout.keyNames.size(), std::size(names));
    for (std::size_t i = 0; i < std::size(names); ++i) {
        EXPECT_EQ(image.layout.keyNames[i].scanCode, names[i].first) << "entry " << i;
        EXPECT_TRUE(image.layout.keyNames[i].text == names[i].second) << "entry " << i;
    }
    const auto report = kbdcheck::check(image.bytes);
    ASSERT_EQ(report.findings.size(), 1u) << kbdcheck::findingsText(report);
    const kbdcheck::Finding& finding = report.findings.front();
    EXPECT_EQ(finding.code, kbdcheck::code::kZeroScanCodeName);
    EXPECT_EQ(finding.severity, kbdcheck::Severity::Portability);
    EXPECT_EQ(finding.where, "pKeyNames entry 1");
    EXPECT_EQ(finding.rva, image.site(PointerRole::KeyNames).targetRva);
    EXPECT_NE(finding.message.find("4 names after it"), std::string::npos) << finding.message;
    EXPECT_NE(kbdcheck::dumpText(report).find("  -- 00 \"\" (readers that end the list at scan code 0 stop here)\n"
                                              "  -- 01 \"Esc\"\n"),
              std::string::npos);
}

// ---------------------------------------------------------------------------
// Damage to what only the synthetic layout has.

struct Damage {
    std::string name;
    std::function<void(const Synthetic&, Bytes&)> apply;
    std::set<std::string> codes;                            // exactly these codes
    std::string where;                                      // a finding's field or message names this
    std::function<std::uint32_t(const Synthetic&)> rva;     // and lies here
    std::set<Form> forms = {Form::X64, Form::X86, Form::Wow64, Form::Arm64};
};

namespace code = kbdcheck::code;

// The byte `offset` into the terminator of the list a pointer leads to.
std::uint32_t terminatorByte(const Synthetic& s, PointerRole role, std::uint32_t offset)
{
    const auto& list = s.site(role);
    return list.targetRva + list.targetSize - list.entrySize + offset;
}

// Sets one byte of a list's terminator.
Damage dirtyTerminator(PointerRole role, std::function<std::uint32_t(const Synthetic&)> offset, std::string field)
{
    auto at = [=](const Synthetic& s) { return terminatorByte(s, role, offset(s)); };
    return {std::string(kbdread::toString(role)) + " terminator: " + field,
            [=](const Synthetic& s, Bytes& b) { b.at(s.at(at(s))) = 0x80; }, {code::kDirtyTerminator},
            "terminator " + field, at};
}

std::function<std::uint32_t(const Synthetic&)> fixed(std::uint32_t offset)
{
    return [=](const Synthetic&) { return offset; };
}

// Where each export's code and record lie, damaged the same way for both:
// each check of their placement is made for the far-east export too.
void addExportDamages(std::vector<Damage>& damages)
{
    using Rva = std::function<std::uint32_t(const Synthetic&)>;
    struct Export {
        const char* name;
        const char* record;
        Rva code, recordRva;
    };
    const Export exports[] = {
        {kbdread::kDescriptorExport, "KBDTABLES", [](const Synthetic& s) { return s.layout.descriptorRva; },
         [](const Synthetic& s) { return s.layout.tablesRva; }},
        {kbdread::kNlsDescriptorExport, "KBDNLSTABLES", [](const Synthetic& s) { return s.layout.nls->descriptorRva; },
         [](const Synthetic& s) { return s.layout.nls->rva; }},
    };
    // The first section's flags, with `set` and without `clear`.
    const auto flags = [](std::uint32_t set, std::uint32_t clear) {
        return [=](const Synthetic& s, Bytes& b) {
            const std::uint32_t at = s.layout.pe.sectionHeaderOffset(0) + 36;
            put(b, at, (kbdread::ByteView(b).u32(at) | set) & ~clear, 4);
        };
    };
    const Rva forwarder = [](const Synthetic& s) { return s.layout.pe.dataDirectories[0].rva + 8; };
    for (const Export& e : exports) {
        const std::string name = e.name;
        damages.push_back({name + " forwarded",
                           [=](const Synthetic& s, Bytes& b) { put(b, exportAddressEntry(s, e.name), forwarder(s), 4); },
                           {code::kExportCode}, name + " (RVA", forwarder});
        damages.push_back({name + " in a section that cannot run", flags(0, 0x20000000), {code::kExportNotExecutable},
                           "the code of " + name, e.code});
        damages.push_back({std::string(e.record) + " in a discardable section", flags(0x02000000, 0),
                           {code::kDiscardableTarget}, std::string("the ") + e.record + " record that " + name,
                           e.recordRva});
        damages.push_back({name + "'s record address without its relocation",
                           [=](const Synthetic& s, Bytes& b) {
                               for (const auto& r : s.layout.pe.relocations)
                                   if (r.rva == e.code(s) + 1)
                                       put(b, s.at(r.entryRva), 0, 2); // padding
                           },
                           {code::kMissingRelocation}, name + "'s code (record address)",
                           [=](const Synthetic& s) { return e.code(s) + 1; }, {Form::X86, Form::Wow64}});
    }
}

const std::vector<Damage>& damages()
{
    static const std::vector<Damage> all = [] {
        std::vector<Damage> rows = {
        dirtyTerminator(PointerRole::DeadKey, fixed(4), "DEADKEY.wchComposed"),
        dirtyTerminator(PointerRole::DeadKey, fixed(7), "DEADKEY.uFlags"),
        dirtyTerminator(PointerRole::VSCtoVK_E0, fixed(3), "VSC_VK.Vk"),
        dirtyTerminator(PointerRole::VSCtoVK_E1, fixed(1), "fill"),
        dirtyTerminator(PointerRole::KeyNames, [](const Synthetic& s) { return s.tables().keyNameString; },
                        "VSC_LPWSTR.pwsz"),
        dirtyTerminator(PointerRole::VkToWcharTable, [](const Synthetic& s) { return s.tables().cbSize; },
                        "VK_TO_WCHAR_TABLE.cbSize"),
        dirtyTerminator(PointerRole::CharTableRows, fixed(1), "VK_TO_WCHARS.Attributes"),
        dirtyTerminator(PointerRole::CharTableRows, fixed(13), "VK_TO_WCHARS.wch[5]"),
        dirtyTerminator(PointerRole::Ligature, fixed(2), "LIGATURE.ModificationNumber"),
        dirtyTerminator(PointerRole::Ligature, fixed(11), "LIGATURE.wch[3]"),
        dirtyTerminator(PointerRole::VkToBit, fixed(1), "VK_TO_BIT.ModBits"),
        {"dead-key table without its terminator",
         [](const Synthetic& s, Bytes& b) { put(b, s.at(terminatorByte(s, PointerRole::DeadKey, 0)), 0x00B40061, 4); },
         {code::kUnterminated}, "KBDTABLES.pDeadKey", nullptr},
        {"dead-key names without their terminator",
         [](const Synthetic& s, Bytes& b) {
             const auto& names = s.site(PointerRole::KeyNamesDead);
             const std::uint32_t terminator = names.targetRva + names.targetSize - names.entrySize;
             std::copy_n(&b[s.at(terminator - names.entrySize)], names.entrySize, &b[s.at(terminator)]);
         },
         {code::kPointerOutside}, "pKeyNamesDead entry 6", nullptr}, // read on into the record after the list
        {"pDeadKey pointing at the record itself",
         [](const Synthetic& s, Bytes& b) {
             put(b, s.at(s.site(PointerRole::DeadKey).siteRva), s.layout.loadBase + s.layout.tablesRva,
                 s.layout.description().addressWidth);
         },
         {code::kOverlap, code::kUnterminated, code::kDeadKeyMissing}, "the dead-key table", nullptr},
        {"SGCAPS row followed by another key's row",
         [](const Synthetic& s, Bytes& b) { b.at(s.at(s.row('E', 1).rva)) = 'T'; }, {code::kSgCapsPair},
         "row 3 ('E')", [](const Synthetic& s) { return s.row('E').rva + 1; }},
        {"dead key whose second row is another key's",
         [](const Synthetic& s, Bytes& b) { b.at(s.at(s.row(0xDD, 1).rva)) = 0x74; }, {code::kDeadKeyRow},
         "(VK_OEM_6) column 0", [](const Synthetic& s) { return s.row(0xDD).rva + 2; }},
        {"dead character with no entry in the dead-key table",
         [](const Synthetic& s, Bytes& b) { put(b, s.at(s.row('R', 1).rva + 2), 0x00B5, 2); }, {code::kDeadKeyMissing},
         "('R') column 0", [](const Synthetic& s) { return s.row('R', 1).rva + 2; }},
        {"dead key with pDeadKey null",
         [](const Synthetic& s, Bytes& b) {
             put(b, s.at(s.site(PointerRole::DeadKey).siteRva), 0, s.layout.description().addressWidth);
         },
         {code::kDeadWithoutTables, code::kStrayRelocation}, "KBDTABLES.pDeadKey",
         [](const Synthetic& s) { return s.site(PointerRole::DeadKey).siteRva; }},
        {"far-east function table past the section",
         [](const Synthetic& s, Bytes& b) { put(b, s.at(s.layout.nls->rva + s.tables().nlsVkToFCount), 0x10000, 4); },
         {code::kPointerOutside}, "", nullptr},
        };
        addExportDamages(rows);
        return rows;
    }();
    return all;
}

std::set<std::string> codesOf(const kbdcheck::Report& report)
{
    std::set<std::string> codes;
    for (const auto& finding : report.findings)
        codes.insert(finding.code);
    return codes;
}

TEST_P(Synthetic_, EachDamageGivesItsFindingAtItsField)
{
    const Synthetic& image = synthetic(GetParam());
    for (const Damage& damage : damages()) {
        if (!damage.forms.contains(GetParam()))
            continue;
        SCOPED_TRACE(damage.name);
        Bytes bytes = image.bytes;
        damage.apply(image, bytes);
        put(bytes, image.layout.pe.checksumOffset, kbdread::computePeChecksum(bytes), 4);
        const auto report = kbdcheck::check(bytes);
        EXPECT_EQ(codesOf(report), damage.codes) << kbdcheck::findingsText(report);
        const auto named = std::find_if(report.findings.begin(), report.findings.end(), [&](const auto& f) {
            return (f.where + ": " + f.message).find(damage.where) != std::string::npos;
        });
        if (named == report.findings.end()) {
            ADD_FAILURE() << "no finding names " << damage.where << ":\n" << kbdcheck::findingsText(report);
            continue;
        }
        if (damage.rva) {
            EXPECT_EQ(named->rva, damage.rva(image)) << kbdcheck::findingsText(report);
            EXPECT_EQ(named->fileOffset, image.layout.pe.fileOffsetOf(damage.rva(image)))
                << kbdcheck::findingsText(report);
        }
    }
}

// Whatever byte is damaged, the reader and the validator report, refuse or
// render; under the sanitizers this also shows no read goes astray.
TEST_P(Synthetic_, SurvivesDamageAnywhere)
{
    const Bytes& original = synthetic(GetParam()).bytes;
    for (std::size_t offset = 0; offset < original.size(); offset += 7) {
        Bytes bytes = original;
        bytes[offset] ^= 0xA5;
        try {
            const auto report = kbdcheck::check(bytes);
            kbdcheck::dumpText(report);
            kbdcheck::reportJson({"damaged", bytes.size()}, report);
        } catch (const kbdread::ReadError& error) {
            EXPECT_TRUE(kbdcheck::isUnreadable(error.kind())) << "offset " << offset << ": " << error.what();
        }
    }
}

} // namespace

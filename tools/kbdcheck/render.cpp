#include "render.h"

#include <sstream>
#include <string_view>

#include "names.h"
#include "text.h"

namespace kbdcheck {
namespace {

using kbdread::KeyOutcome;
using kbdread::Layout;

using kbdread::bareHex;
using kbdread::hex;
using kbdread::Resources;
using kbdread::StringResource;
using kbdread::VersionInfo;
using kbdread::VersionStringTable;

// The UTF-8 character that starts at text[at]: its length in bytes and
// whether it is well formed. An ill-formed one spans the longest prefix
// that could still have begun a character (at least one byte), to be
// replaced by one U+FFFD.
struct Utf8Character {
    std::size_t length;
    bool wellFormed;
};

Utf8Character utf8Character(std::string_view text, std::size_t at)
{
    const unsigned char lead = text[at];
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead < 0x80)
        return {1, true};
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;   // no overlong forms
        high = lead == 0xED ? 0x9F : high; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;   // no overlong forms
        high = lead == 0xF4 ? 0x8F : high; // nothing above U+10FFFF
    } else {
        return {1, false};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i == text.size())
            return {i, false};
        const unsigned char next = text[at + i];
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
            return {i, false};
    }
    return {length, true};
}

// ---------------------------------------------------------------------------
// One view of the layout that both renderings read.

struct Character {
    std::string code; // "U+06B5"
    std::string name; // empty for a code point without a name
};

struct ColumnView {
    std::string label; // "plain", "Shift", "Shift+Ctrl", "Caps Lock+Shift"
    unsigned bits;
    unsigned column;
    bool capsLock;       // the second row of an SGCAPS key, read with Caps Lock on
    std::string outcome; // "characters", "none", "dead" (characters: the dead character), "missing-ligature"
    std::vector<Character> characters;
};

struct KeyView {
    std::string prefix; // "--", "E0", "E1"
    std::uint8_t scanCode;
    std::uint16_t value;
    std::vector<std::string> flags;
    std::string virtualKey;
    std::optional<std::string> keyName;
    std::vector<ColumnView> columns;
};

// A surrogate pair is one character; a lone surrogate stands for itself.
std::vector<Character> charactersOf(const std::u16string& units)
{
    std::vector<Character> out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        out.push_back({codePoint(c), characterName(c)});
    }
    return out;
}

Character characterOf(char16_t unit)
{
    return charactersOf(std::u16string(1, unit)).front();
}

std::vector<Character> charactersOf(const std::vector<std::uint16_t>& cells)
{
    std::u16string units;
    for (std::uint16_t cell : cells) {
        if (cell == kbdread::kWchNone)
            break;
        units.push_back(static_cast<char16_t>(cell));
    }
    return charactersOf(units);
}

std::string modifierKeyName(std::uint8_t virtualKey)
{
    switch (virtualKey) {
    case 0x10: return "Shift";
    case 0x11: return "Ctrl";
    case 0x12: return "Alt";
    case 0x15: return "Kana";
    default: return virtualKeyName(virtualKey);
    }
}

std::string modifierLabel(const Layout& layout, unsigned bits)
{
    if (bits == 0)
        return "plain";
    std::string label;
    for (unsigned bit = 1; bit <= 0x80; bit <<= 1) {
        if (!(bits & bit))
            continue;
        std::string name = "bit " + hex(bit, 2);
        for (const auto& entry : layout.modifiers.vkToBit)
            if (entry.modBits == bit) {
                name = modifierKeyName(entry.virtualKey);
                break;
            }
        label += (label.empty() ? "" : "+") + name;
    }
    return label;
}

std::vector<std::string> flagNames(std::uint16_t value)
{
    std::vector<std::string> names;
    static constexpr std::pair<std::uint16_t, const char*> kFlags[] = {
        {0x0100, "KBDEXT"}, {0x0200, "KBDMULTIVK"}, {0x0400, "KBDSPECIAL"}, {0x0800, "KBDNUMPAD"},
        {0x1000, "KBDUNICODE"}, {0x2000, "KBDINJECTEDVK"}, {0x4000, "KBDMAPPEDVK"}, {0x8000, "KBDBREAK"}};
    for (const auto& [bit, name] : kFlags)
        if (value & bit)
            names.push_back(name);
    return names;
}

// What the key types in every modifier combination that has a column in
// its table; for a key with SGCAPS, then again with Caps Lock on.
std::vector<ColumnView> columnsOf(const Layout& layout, std::uint8_t virtualKey)
{
    std::vector<ColumnView> columns;
    const auto* table = layout.tableFor(virtualKey);
    if (!table)
        return columns;
    const bool sgCaps = layout.rowFor(virtualKey)->attributes & kbdread::kSgCaps;
    for (const bool capsLock : {false, true}) {
        if (capsLock && !sgCaps)
            break;
        for (unsigned bits = 0; bits <= layout.modifiers.maxModBits; ++bits) {
            const auto column = layout.column(bits);
            if (!column || *column >= table->nModifications)
                continue;
            const auto result = layout.characters(virtualKey, bits, capsLock);
            std::string label = modifierLabel(layout, bits);
            if (capsLock)
                label = bits == 0 ? "Caps Lock" : "Caps Lock+" + label;
            ColumnView view{label, bits, *column, capsLock, "none", {}};
            switch (result.outcome) {
            case KeyOutcome::Nothing: break;
            case KeyOutcome::Characters:
                view.outcome = "characters";
                view.characters = charactersOf(result.characters);
                break;
            case KeyOutcome::Dead:
                view.outcome = "dead";
                view.characters = charactersOf(result.characters);
                break;
            case KeyOutcome::MissingLigature: view.outcome = "missing-ligature"; break;
            }
            columns.push_back(std::move(view));
        }
    }
    return columns;
}

std::string attributeNames(std::uint8_t attributes)
{
    static constexpr std::pair<std::uint8_t, const char*> kAttributes[] = {
        {kbdread::kCapLock, "CAPLOK"}, {kbdread::kSgCaps, "SGCAPS"}, {kbdread::kCapLockAltGr, "CAPLOKALTGR"},
        {kbdread::kKanaLock, "KANALOK"}, {kbdread::kGroupSelectTap, "GRPSELTAP"}};
    std::string names;
    for (const auto& [bit, name] : kAttributes)
        if (attributes & bit)
            names += std::string(" ") + name;
    return names;
}

std::string deadKeyFlags(std::uint16_t flags)
{
    if (flags == 0)
        return {};
    return ", flags " + hex(flags, 4) + (flags & kbdread::kDeadKeyChained ? " DKF_DEAD" : "");
}

std::optional<std::string> keyNameFor(const std::vector<kbdread::KeyName>& names, std::uint8_t scanCode)
{
    for (const auto& name : names)
        if (name.scanCode == scanCode)
            return utf8(name.text);
    return std::nullopt;
}

KeyView keyView(const Layout& layout, const char* prefix, std::uint8_t scanCode, std::uint16_t value,
                const std::vector<kbdread::KeyName>* names)
{
    const auto virtualKey = static_cast<std::uint8_t>(value & 0xFF);
    return {prefix,
            scanCode,
            value,
            flagNames(value),
            virtualKeyName(virtualKey),
            names ? keyNameFor(*names, scanCode) : std::nullopt,
            virtualKey == 0xFF ? std::vector<ColumnView>{} : columnsOf(layout, virtualKey)};
}

std::vector<KeyView> keyViews(const Layout& layout)
{
    std::vector<KeyView> keys;
    for (std::size_t sc = 0; sc < layout.scanCodeMap.size(); ++sc)
        keys.push_back(keyView(layout, "--", static_cast<std::uint8_t>(sc), layout.scanCodeMap[sc], &layout.keyNames));
    for (const auto& pair : layout.e0)
        keys.push_back(keyView(layout, "E0", pair.scanCode, pair.value, &layout.keyNamesExt));
    for (const auto& pair : layout.e1)
        keys.push_back(keyView(layout, "E1", pair.scanCode, pair.value, nullptr));
    return keys;
}

// One line per name; a reader that ends the list at a zero scan code stops
// at the line that says so.
std::string keyNamesText(const std::vector<kbdread::KeyName>& names, const char* prefix)
{
    const std::optional<std::size_t> zero = kbdread::zeroScanCodeEntry(names);
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += std::string("  ") + prefix + " " + bareHex(names[i].scanCode, 2) + " \"" + utf8(names[i].text) + "\"";
        if (zero == i)
            text += " (readers that end the list at scan code 0 stop here)";
        text += "\n";
    }
    return text;
}

std::string charactersText(const std::vector<Character>& characters)
{
    std::string text;
    for (const auto& c : characters)
        text += (text.empty() ? "" : " + ") + c.code + (c.name.empty() ? "" : " " + c.name);
    return text;
}

std::string columnText(const ColumnView& column)
{
    if (column.outcome == "characters")
        return charactersText(column.characters);
    if (column.outcome == "dead")
        return column.characters.empty() ? "dead key (0xF001), no second row"
                                         : "dead key " + charactersText(column.characters);
    if (column.outcome == "missing-ligature")
        return "ligature row missing (0xF002)";
    return "none";
}

// ---------------------------------------------------------------------------
// JSON

class Json {
public:
    Json& raw(const std::string& text)
    {
        out_ << text;
        return *this;
    }
    // Text from the command line and from the image (section names) may
    // hold any bytes: what is not UTF-8 becomes U+FFFD, so the output is
    // always JSON text.
    Json& string(const std::string& text)
    {
        out_ << '"';
        for (std::size_t at = 0; at < text.size();) {
            const unsigned char c = text[at];
            const Utf8Character character = utf8Character(text, at);
            if (!character.wellFormed)
                out_ << "\xEF\xBF\xBD"; // U+FFFD REPLACEMENT CHARACTER
            else if (c == '"' || c == '\\')
                out_ << '\\' << c;
            else if (c < 0x20)
                out_ << "\\u" << bareHex(c, 4);
            else
                out_ << std::string_view(text).substr(at, character.length);
            at += character.length;
        }
        out_ << '"';
        return *this;
    }
    Json& number(std::uint64_t value)
    {
        out_ << value;
        return *this;
    }
    Json& key(const char* name)
    {
        return string(name).raw(":");
    }
    template <typename T, typename F>
    Json& array(const std::vector<T>& items, F each)
    {
        raw("[");
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i)
                raw(",");
            each(items[i]);
        }
        return raw("]");
    }
    std::string str() const { return out_.str(); }

private:
    std::ostringstream out_;
};

void characterJson(Json& json, const Character& c)
{
    json.raw("{").key("code").string(c.code).raw(",").key("name");
    if (c.name.empty())
        json.raw("null");
    else
        json.string(c.name);
    json.raw("}");
}

// The form the tables were read in, and whether it was found or given.
std::string formText(const Layout& layout)
{
    const auto& form = layout.description();
    return std::string(form.name) + ": " + form.title + ", machine " + kbdread::machineName(layout.pe.machine) + ", " +
           std::to_string(form.tables.pointer) + "-byte pointer fields, " +
           (layout.formForced ? "as given" : "detected from the image");
}

void functionParamsJson(Json& json, const std::array<kbdread::FunctionParam, 8>& params)
{
    json.raw("[");
    for (std::size_t i = 0; i < params.size(); ++i) {
        json.raw(i ? ",{" : "{").key("index").number(params[i].index);
        json.raw(",").key("param").number(params[i].param).raw("}");
    }
    json.raw("]");
}

void nlsJson(Json& json, const kbdread::NlsTables& nls)
{
    json.raw("{").key("rva").number(nls.rva).raw(",").key("oemIdentifier").number(nls.oemIdentifier);
    json.raw(",").key("layoutInformation").number(nls.layoutInformation);
    json.raw(",").key("vkToF").array(nls.vkToF, [&](const kbdread::VkFunction& f) {
        json.raw("{").key("vk").number(f.virtualKey).raw(",").key("vkName").string(virtualKeyName(f.virtualKey));
        json.raw(",").key("type").number(f.procType).raw(",").key("current").number(f.procCurrent);
        json.raw(",").key("switch").number(f.procSwitch).raw(",").key("proc");
        functionParamsJson(json, f.proc);
        json.raw(",").key("procAlt");
        functionParamsJson(json, f.procAlt);
        json.raw("}");
    });
    json.raw(",").key("mouseVKeys");
    if (nls.mouseVKeyNull)
        json.raw("null");
    else
        json.array(nls.mouseVKeys, [&](std::uint16_t vk) { json.number(vk); });
    json.raw("}");
}

void layoutJson(Json& json, const Layout& layout)
{
    const auto& form = layout.description();
    json.raw("{").key("form").raw("{").key("name").string(form.name);
    json.raw(",").key("machine").number(layout.pe.machine);
    json.raw(",").key("pointerFieldBytes").number(form.tables.pointer);
    json.raw(",").key("addressBytes").number(form.addressWidth);
    json.raw(",").key("detected").raw(layout.formForced ? "false" : "true").raw("}");
    json.raw(",").key("tablesRva").number(layout.tablesRva);
    json.raw(",").key("descriptorRva").number(layout.descriptorRva);
    json.raw(",").key("imageBase").number(layout.pe.imageBase);
    json.raw(",").key("localeFlags").number(layout.localeFlags);
    json.raw(",").key("nLgMax").number(layout.nLgMax);
    json.raw(",").key("cbLgEntry").number(layout.cbLgEntry);
    json.raw(",").key("deadKeyNull").raw(layout.deadKeyNull ? "true" : "false");
    json.raw(",").key("keyNamesDeadNull").raw(layout.keyNamesDeadNull ? "true" : "false");

    json.raw(",").key("modifiers").raw("{").key("vkToBit").array(layout.modifiers.vkToBit, [&](const auto& e) {
        json.raw("{").key("vk").number(e.virtualKey).raw(",").key("vkName").string(virtualKeyName(e.virtualKey));
        json.raw(",").key("bits").number(e.modBits).raw("}");
    });
    json.raw(",").key("maxModBits").number(layout.modifiers.maxModBits);
    std::vector<unsigned> combinations;
    for (unsigned bits = 0; bits < layout.modifiers.modNumber.size(); ++bits)
        combinations.push_back(bits);
    json.raw(",").key("columns").array(combinations, [&](unsigned bits) {
        json.raw("{").key("bits").number(bits).raw(",").key("label").string(modifierLabel(layout, bits));
        json.raw(",").key("column");
        if (const auto column = layout.column(bits))
            json.number(*column);
        else
            json.raw("null");
        json.raw("}");
    });
    json.raw("}");

    json.raw(",").key("tables").array(layout.charTables, [&](const kbdread::CharTable& table) {
        json.raw("{").key("rva").number(table.rowsRva);
        json.raw(",").key("columns").number(table.nModifications).raw(",").key("rowSize").number(table.cbSize);
        json.raw(",").key("rows").array(table.rows, [&](const kbdread::CharRow& row) {
            json.raw("{").key("vk").number(row.virtualKey).raw(",").key("vkName").string(virtualKeyName(row.virtualKey));
            json.raw(",").key("attributes").number(row.attributes);
            json.raw(",").key("cells").array(row.cells, [&](std::uint16_t cell) { json.number(cell); });
            json.raw("}");
        });
        json.raw("}");
    });

    json.raw(",").key("keys").array(keyViews(layout), [&](const KeyView& key) {
        json.raw("{").key("prefix").string(key.prefix).raw(",").key("scanCode").number(key.scanCode);
        json.raw(",").key("value").number(key.value).raw(",").key("vkName").string(key.virtualKey);
        json.raw(",").key("flags").array(key.flags, [&](const std::string& f) { json.string(f); });
        json.raw(",").key("keyName");
        if (key.keyName)
            json.string(*key.keyName);
        else
            json.raw("null");
        json.raw(",").key("columns").array(key.columns, [&](const ColumnView& column) {
            json.raw("{").key("label").string(column.label).raw(",").key("bits").number(column.bits);
            json.raw(",").key("column").number(column.column);
            json.raw(",").key("capsLock").raw(column.capsLock ? "true" : "false");
            json.raw(",").key("outcome").string(column.outcome);
            json.raw(",").key("characters").array(column.characters, [&](const Character& c) { characterJson(json, c); });
            json.raw("}");
        });
        json.raw("}");
    });

    json.raw(",").key("ligatures").array(layout.ligatures, [&](const kbdread::LigatureRow& row) {
        json.raw("{").key("vk").number(row.virtualKey).raw(",").key("vkName").string(virtualKeyName(row.virtualKey));
        json.raw(",").key("column").number(row.modificationNumber);
        json.raw(",").key("characters").array(charactersOf(row.cells), [&](const Character& c) { characterJson(json, c); });
        json.raw("}");
    });

    auto names = [&](const std::vector<kbdread::KeyName>& list) {
        json.array(list, [&](const kbdread::KeyName& name) {
            json.raw("{").key("scanCode").number(name.scanCode).raw(",").key("text").string(utf8(name.text)).raw("}");
        });
    };
    json.raw(",").key("keyNames");
    names(layout.keyNames);
    json.raw(",").key("keyNamesExt");
    names(layout.keyNamesExt);

    json.raw(",").key("deadKeys").array(layout.deadKeys, [&](const kbdread::DeadKeyEntry& entry) {
        json.raw("{").key("accent");
        characterJson(json, characterOf(entry.accent));
        json.raw(",").key("base");
        characterJson(json, characterOf(entry.base));
        json.raw(",").key("composed");
        characterJson(json, characterOf(entry.composed));
        json.raw(",").key("flags").number(entry.flags).raw("}");
    });
    json.raw(",").key("deadKeyNames").array(layout.deadKeyNames, [&](const kbdread::DeadKeyName& name) {
        json.raw("{").key("text").string(utf8(name.text)).raw("}");
    });
    json.raw(",").key("nls");
    if (layout.nls)
        nlsJson(json, *layout.nls);
    else
        json.raw("null");
    json.raw("}");
}

std::string functionParamsText(const std::array<kbdread::FunctionParam, 8>& params)
{
    std::string text;
    for (const auto& param : params) {
        text += ' ';
        text += std::to_string(param.index);
        text += '/';
        text += hex(param.param);
    }
    return text;
}

std::string nlsText(const kbdread::NlsTables& nls)
{
    std::ostringstream out;
    out << "far-east tables\n";
    out << "  KBDNLSTABLES at RVA " << hex(nls.rva) << ", KbdNlsLayerDescriptor at RVA " << hex(nls.descriptorRva)
        << ", OEMIdentifier " << hex(nls.oemIdentifier, 2) << ", LayoutInformation "
        << hex(nls.layoutInformation, 4) << "\n";
    for (const auto& f : nls.vkToF) {
        out << "  " << virtualKeyName(f.virtualKey) << ": type " << unsigned{f.procType} << ", current "
            << unsigned{f.procCurrent} << ", switch " << hex(f.procSwitch, 2) << "\n";
        out << "    NLSFEProc" << functionParamsText(f.proc) << "\n";
        out << "    NLSFEProcAlt" << functionParamsText(f.procAlt) << "\n";
    }
    out << "  mouse keys:";
    if (nls.mouseVKeyNull)
        out << " the system's default";
    for (std::uint16_t vk : nls.mouseVKeys) {
        out << " " << virtualKeyName(static_cast<std::uint8_t>(vk));
        for (const auto& flag : flagNames(vk))
            out << "|" << flag;
    }
    out << "\n";
    return out.str();
}

std::string versionNumber(std::uint32_t ms, std::uint32_t ls)
{
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
           std::to_string(ls & 0xFFFF);
}

std::string resourcesText(const Resources& resources)
{
    std::ostringstream out;
    out << "resources\n";
    for (const auto& version : resources.versions) {
        const auto& fixed = version.fixed;
        out << "  version " << version.id << " language " << hex(version.language, 4) << ": file "
            << versionNumber(fixed.fileVersionMS, fixed.fileVersionLS) << ", product "
            << versionNumber(fixed.productVersionMS, fixed.productVersionLS) << ", flags mask "
            << hex(fixed.flagsMask) << ", flags " << hex(fixed.flags) << ", OS " << hex(fixed.os, 8) << ", type "
            << fixed.type << ", subtype " << fixed.subtype << "\n";
        for (const auto& table : version.stringTables)
            for (const auto& [key, value] : table.values)
                out << "    " << utf8(table.key) << " " << utf8(key) << " = \"" << utf8(value) << "\"\n";
        for (const auto& [key, words] : version.vars) {
            out << "    " << utf8(key) << " =";
            for (std::uint16_t word : words)
                out << " " << hex(word, 4);
            out << "\n";
        }
    }
    for (const auto& string : resources.strings)
        out << "  string " << string.id << " language " << hex(string.language, 4) << ": \"" << utf8(string.text)
            << "\"\n";
    return out.str();
}

void resourcesJson(Json& json, const Resources& resources)
{
    json.raw("{").key("versions").array(resources.versions, [&](const VersionInfo& version) {
        const auto& f = version.fixed;
        json.raw("{").key("id").number(version.id).raw(",").key("language").number(version.language);
        json.raw(",").key("fixed").raw("{").key("fileVersion").string(versionNumber(f.fileVersionMS, f.fileVersionLS));
        json.raw(",").key("productVersion").string(versionNumber(f.productVersionMS, f.productVersionLS));
        json.raw(",").key("flagsMask").number(f.flagsMask).raw(",").key("flags").number(f.flags);
        json.raw(",").key("os").number(f.os).raw(",").key("type").number(f.type);
        json.raw(",").key("subtype").number(f.subtype).raw("}");
        json.raw(",").key("stringTables").array(version.stringTables, [&](const VersionStringTable& table) {
            json.raw("{").key("key").string(utf8(table.key)).raw(",").key("values");
            json.array(table.values, [&](const auto& entry) {
                json.raw("[").string(utf8(entry.first)).raw(",").string(utf8(entry.second)).raw("]");
            });
            json.raw("}");
        });
        json.raw(",").key("vars").array(version.vars, [&](const auto& var) {
            json.raw("{").key("key").string(utf8(var.first)).raw(",").key("words");
            json.array(var.second, [&](std::uint16_t word) { json.number(word); });
            json.raw("}");
        });
        json.raw("}");
    });
    json.raw(",").key("strings").array(resources.strings, [&](const StringResource& string) {
        json.raw("{").key("id").number(string.id).raw(",").key("language").number(string.language);
        json.raw(",").key("text").string(utf8(string.text)).raw("}");
    });
    json.raw("}");
}

} // namespace

std::string findingsText(const Report& report)
{
    if (report.findings.empty())
        return "no findings\n";
    std::string text;
    for (const auto& finding : report.findings) {
        text += finding.code;
        if (finding.severity != Severity::Error)
            text += std::string(" (") + toString(finding.severity) + ")";
        text += ":";
        if (!finding.where.empty())
            text += " " + finding.where;
        std::string place;
        if (finding.rva)
            place += "RVA " + hex(*finding.rva);
        if (finding.fileOffset)
            place += (place.empty() ? "" : ", ") + std::string("file offset ") + hex(*finding.fileOffset);
        if (!place.empty())
            text += " [" + place + "]";
        text += (finding.where.empty() && place.empty() ? " " : ": ") + finding.message + "\n";
    }
    return text;
}

std::string dumpText(const Report& report)
{
    if (!report.layout)
        return {};
    const Layout& layout = *report.layout;
    std::ostringstream out;
    out << "layout\n";
    out << "  form " << formText(layout) << "\n";
    out << "  KBDTABLES at RVA " << hex(layout.tablesRva) << ", KbdLayerDescriptor at RVA "
        << hex(layout.descriptorRva) << ", preferred base " << hex(layout.pe.imageBase) << "\n";
    out << "  fLocaleFlags " << hex(layout.localeFlags, 8) << ", nLgMax " << unsigned{layout.nLgMax}
        << ", cbLgEntry " << unsigned{layout.cbLgEntry} << ", pDeadKey "
        << (layout.deadKeyNull ? "null" : "set") << ", pKeyNamesDead " << (layout.keyNamesDeadNull ? "null" : "set")
        << "\n";

    out << "modifiers\n";
    for (const auto& entry : layout.modifiers.vkToBit)
        out << "  " << virtualKeyName(entry.virtualKey) << " -> bit " << hex(entry.modBits, 2) << "\n";
    out << "  wMaxModBits " << layout.modifiers.maxModBits << "\n";
    for (unsigned bits = 0; bits < layout.modifiers.modNumber.size(); ++bits) {
        const auto column = layout.column(bits);
        out << "  bits " << bits << " " << modifierLabel(layout, bits) << " -> "
            << (column ? "column " + std::to_string(*column) : std::string("no column")) << "\n";
    }
    if (layout.modifiers.maxModBits < 7)
        out << "  bits " << layout.modifiers.maxModBits + 1 << "-7 -> no column (above wMaxModBits)\n";

    out << "character tables, searched in this order\n";
    for (std::size_t t = 0; t < layout.charTables.size(); ++t) {
        const auto& table = layout.charTables[t];
        out << "  table " << t + 1 << ": " << unsigned{table.nModifications} << " columns, "
            << unsigned{table.cbSize} << " bytes per row, " << table.rows.size() << " rows at RVA "
            << hex(table.rowsRva) << "\n";
        for (const auto& row : table.rows) {
            out << "    " << virtualKeyName(row.virtualKey) << " attributes " << hex(row.attributes, 2)
                << attributeNames(row.attributes) << ":";
            for (std::uint16_t cell : row.cells)
                out << " " << bareHex(cell, 4);
            out << "\n";
        }
    }

    out << "keys\n";
    for (const auto& key : keyViews(layout)) {
        out << "  " << key.prefix << " " << bareHex(key.scanCode, 2) << " " << bareHex(key.value, 4) << " "
            << key.virtualKey;
        for (const auto& flag : key.flags)
            out << " " << flag;
        if (key.keyName)
            out << " \"" << *key.keyName << "\"";
        out << "\n";
        for (const auto& column : key.columns)
            out << "      " << column.label << " (column " << column.column << "): " << columnText(column) << "\n";
    }

    out << "ligatures\n";
    for (const auto& row : layout.ligatures)
        out << "  " << virtualKeyName(row.virtualKey) << " column " << row.modificationNumber << ": "
            << charactersText(charactersOf(row.cells)) << "\n";

    out << "key names\n";
    out << keyNamesText(layout.keyNames, "--") << keyNamesText(layout.keyNamesExt, "E0");
    if (!layout.deadKeyNull) {
        out << "dead keys, searched in this order\n";
        for (const auto& entry : layout.deadKeys)
            out << "  " << charactersText({characterOf(entry.accent)}) << " then "
                << charactersText({characterOf(entry.base)}) << " -> " << charactersText({characterOf(entry.composed)})
                << deadKeyFlags(entry.flags) << "\n";
    }
    if (!layout.keyNamesDeadNull) {
        out << "dead-key names\n";
        for (const auto& name : layout.deadKeyNames)
            out << "  " << (name.text.empty() ? "(empty)" : charactersText({characterOf(name.text.front())})) << ": \""
                << utf8(name.text.empty() ? name.text : name.text.substr(1)) << "\"\n";
    }
    if (layout.nls)
        out << nlsText(*layout.nls);
    if (report.resources)
        out << resourcesText(*report.resources);
    return out.str();
}

std::string reportJson(const FileFacts& file, const Report& report)
{
    Json json;
    json.raw("{").key("file").string(file.name).raw(",").key("size").number(file.size);
    json.raw(",").key("findings").array(report.findings, [&](const Finding& finding) {
        json.raw("{").key("code").string(finding.code).raw(",").key("severity").string(toString(finding.severity));
        json.raw(",").key("where").string(finding.where);
        json.raw(",").key("rva");
        if (finding.rva)
            json.number(*finding.rva);
        else
            json.raw("null");
        json.raw(",").key("fileOffset");
        if (finding.fileOffset)
            json.number(*finding.fileOffset);
        else
            json.raw("null");
        json.raw(",").key("message").string(finding.message).raw("}");
    });
    json.raw(",").key("layout");
    if (report.layout)
        layoutJson(json, *report.layout);
    else
        json.raw("null");
    json.raw(",").key("resources");
    if (report.resources)
        resourcesJson(json, *report.resources);
    else
        json.raw("null");
    json.raw("}\n");
    return json.str();
}

} // namespace kbdcheck

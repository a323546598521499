#include "journal.h"

#include <algorithm>

#include "overloaded.h"
#include "text.h"

namespace setup {
namespace {

// Entries are little-endian: a format byte, the change's tag (ChangeTag),
// then its fields in declaration order. Strings are a count of UTF-16
// units and the units; values their type, a byte count and the bytes; a
// user its SID and where it is (userPlace). Format 1, which earlier
// builds wrote, lacks what later formats added to a kind (a layout call's
// `listed`): it reads as its default.
constexpr std::uint8_t entryFormat = 2;

// Where a user is, one byte: 0 at the screen, 1 the installer's own
// account there too (the byte once held that flag alone), 2 a profile
// away from the screen.
constexpr std::uint8_t userPlace(const User& user) {
    return user.atTheScreen ? (user.isProcessUser ? 1 : 0) : 2;
}

class Writer {
public:
    void byte(std::uint8_t value) { bytes_.push_back(value); }
    void flag(bool value) { byte(value ? 1 : 0); }
    void number(std::uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8)
            byte(static_cast<std::uint8_t>(value >> shift));
    }
    void text(const std::wstring& value) {
        number(static_cast<std::uint32_t>(value.size()));
        for (const wchar_t c : value) {
            byte(static_cast<std::uint8_t>(c & 0xFF));
            byte(static_cast<std::uint8_t>(c >> 8 & 0xFF));
        }
    }
    void value(const RegistryValue& value) {
        number(value.type);
        number(static_cast<std::uint32_t>(value.bytes.size()));
        bytes_.insert(bytes_.end(), value.bytes.begin(), value.bytes.end());
    }
    void key(const RegistryKey& key) {
        byte(static_cast<std::uint8_t>(key.hive));
        text(key.path);
    }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

// Reads what Writer wrote; any read past the end, or a field out of its
// range, makes the whole entry unreadable.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool good() const { return good_; }
    bool atEnd() const { return at_ == bytes_.size(); }

    std::uint8_t byte() {
        if (at_ >= bytes_.size()) {
            good_ = false;
            return 0;
        }
        return bytes_[at_++];
    }
    bool flag() {
        const std::uint8_t value = byte();
        good_ &= value <= 1;
        return value == 1;
    }
    std::uint32_t number() {
        std::uint32_t value = 0;
        for (int shift = 0; shift < 32; shift += 8)
            value |= static_cast<std::uint32_t>(byte()) << shift;
        return value;
    }
    std::wstring text() {
        const std::uint32_t count = number();
        if (!fits(std::uint64_t{count} * 2))
            return {};
        std::wstring value;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t low = byte();
            value += static_cast<wchar_t>(low | byte() << 8);
        }
        return value;
    }
    RegistryValue value() {
        RegistryValue value;
        value.type = number();
        const std::uint32_t size = number();
        if (!fits(size))
            return value;
        value.bytes.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
                           bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + size));
        at_ += size;
        return value;
    }
    RegistryKey key() {
        const std::uint8_t hive = byte();
        good_ &= hive <= static_cast<std::uint8_t>(Hive::Users);
        return {static_cast<Hive>(hive), text()};
    }

private:
    bool fits(std::uint64_t size) {
        good_ &= size <= bytes_.size() - std::min(at_, bytes_.size());
        return good_;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
    bool good_ = true;
};

void write(Writer& out, const Change& change) {
    std::visit([&](const auto& c) { out.byte(static_cast<std::uint8_t>(c.tag)); }, change);
    std::visit(Overloaded{
                   [&](const CreateKey& c) { out.key(c.key); },
                   [&](const SetValue& c) {
                       out.key(c.key);
                       out.text(c.name);
                       out.value(c.value);
                       out.flag(c.prior.has_value());
                       if (c.prior)
                           out.value(*c.prior);
                   },
                   [&](const DeleteValue& c) {
                       out.key(c.key);
                       out.text(c.name);
                       out.value(c.prior);
                   },
                   [&](const DeleteKey& c) {
                       out.key(c.key);
                       out.number(static_cast<std::uint32_t>(c.prior.size()));
                       for (const NamedValue& value : c.prior) {
                           out.text(value.name);
                           out.value(value.value);
                       }
                   },
                   [&](const CancelRename& c) {
                       out.text(c.source);
                       out.text(c.target);
                   },
                   [&](const PlaceFile& c) {
                       out.text(c.path);
                       out.flag(c.source.image.has_value());
                       out.byte(c.source.image ? static_cast<std::uint8_t>(*c.source.image) : 0);
                       out.flag(c.replaces);
                       out.text(c.staged);
                       out.text(c.aside);
                   },
                   [&](const RemoveFile& c) {
                       out.text(c.path);
                       out.text(c.aside);
                   },
                   [&](const Discard& c) {
                       out.text(c.path);
                       out.flag(c.folder);
                   },
                   [&](const CreateFolder& c) { out.text(c.path); },
                   [&](const UserLayoutCall& c) {
                       out.text(c.layout);
                       out.flag(c.uninstall);
                       out.text(c.user.sid);
                       out.byte(userPlace(c.user));
                       out.flag(c.listed);
                   },
                   [&](const ProfileHive& c) {
                       out.text(c.profile);
                       out.text(c.file);
                       out.flag(c.load);
                   },
               },
               change);
}

std::optional<Change> read(Reader& in, std::uint8_t format) {
    switch (static_cast<ChangeTag>(in.byte())) {
    case ChangeTag::CreateKey:
        return CreateKey{in.key()};
    case ChangeTag::SetValue: {
        SetValue c{in.key(), in.text(), in.value(), std::nullopt};
        if (in.flag())
            c.prior = in.value();
        return c;
    }
    case ChangeTag::DeleteValue: {
        RegistryKey key = in.key();
        std::wstring name = in.text();
        return DeleteValue{std::move(key), std::move(name), in.value()};
    }
    case ChangeTag::DeleteKey: {
        DeleteKey c{in.key(), {}};
        const std::uint32_t count = in.number();
        for (std::uint32_t i = 0; i < count && in.good(); ++i) {
            std::wstring name = in.text();
            c.prior.push_back({std::move(name), in.value()});
        }
        return c;
    }
    case ChangeTag::CancelRename: {
        std::wstring source = in.text();
        return CancelRename{std::move(source), in.text()};
    }
    case ChangeTag::PlaceFile: {
        PlaceFile c;
        c.path = in.text();
        const bool isImage = in.flag();
        const std::uint8_t form = in.byte();
        if (isImage && form <= static_cast<std::uint8_t>(Form::Arm64))
            c.source.image = static_cast<Form>(form);
        else if (isImage)
            return std::nullopt;
        c.replaces = in.flag();
        c.staged = in.text();
        c.aside = in.text();
        return c;
    }
    case ChangeTag::RemoveFile: {
        std::wstring path = in.text();
        return RemoveFile{std::move(path), in.text()};
    }
    case ChangeTag::Discard: {
        std::wstring path = in.text();
        return Discard{std::move(path), in.flag()};
    }
    case ChangeTag::CreateFolder:
        return CreateFolder{in.text()};
    case ChangeTag::UserLayoutCall: {
        UserLayoutCall c;
        c.layout = in.text();
        c.uninstall = in.flag();
        c.user.sid = in.text();
        const std::uint8_t place = in.byte();
        if (place > 2)
            return std::nullopt;
        c.user.isProcessUser = place == 1;
        c.user.atTheScreen = place != 2;
        if (format >= 2)
            c.listed = in.flag();
        return c;
    }
    case ChangeTag::ProfileHive: {
        ProfileHive c;
        c.profile = in.text();
        c.file = in.text();
        c.load = in.flag();
        return c;
    }
    }
    return std::nullopt;
}

}  // namespace

std::vector<std::uint8_t> encodeChange(const Change& change) {
    Writer out;
    out.byte(entryFormat);
    write(out, change);
    return out.take();
}

std::optional<Change> decodeChange(std::span<const std::uint8_t> bytes) {
    Reader in(bytes);
    const std::uint8_t format = in.byte();
    if (format < 1 || format > entryFormat)
        return std::nullopt;
    std::optional<Change> change = read(in, format);
    if (!in.good() || !in.atEnd())
        return std::nullopt;
    return change;
}

RegistryKey journalKey() { return {Hive::LocalMachine, journalPath}; }

RegistryKey waitingKey(const std::wstring& sid) { return {Hive::LocalMachine, std::wstring(waitingPath) + L"\\" + sid}; }

std::wstring journalEntryName(std::size_t index) {
    std::wstring name = decimal(static_cast<std::uint32_t>(index + 1));
    return std::wstring(name.size() < 4 ? 4 - name.size() : 0, L'0') + name;
}

JournalContents readJournal(const std::vector<NamedValue>& values) {
    JournalContents contents;
    for (const NamedValue& value : values) {
        if (equalNoCase(value.name, journalCommittedName))
            contents.committed = true;
        else if (!parseDecimal(value.name))
            contents.unreadable.push_back(value.name);
    }
    for (const auto& [number, value] : numberedValues(values)) {
        const auto change = value->value.type == regBinary ? decodeChange(value->value.bytes) : std::nullopt;
        if (change)
            contents.changes.push_back(*change);
        else
            contents.unreadable.push_back(value->name);
    }
    return contents;
}

}  // namespace setup

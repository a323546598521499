#include "changes.h"

#include "overloaded.h"

namespace setup {
namespace {

bool isGone(std::uint32_t error) { return error == winerror::fileNotFound || error == winerror::pathNotFound; }

Outcome done() { return {}; }
Outcome failed(std::uint32_t error) { return {error, false}; }
Outcome atRestart() { return {0, true}; }

// Deletes a file nobody needs, now or at the next restart; whether it
// could.
bool deleteSoonest(System& system, const std::wstring& path) {
    const std::uint32_t error = system.deleteFile(path);
    return error == 0 || isGone(error) || system.schedule(path, L"") == 0;
}

// Where the old file is copied before the copy takes its name: a copy is
// not made in one step, and a run killed while copying must not leave an
// aside that undoing would take for the old file.
std::wstring copyingName(const PlaceFile& c) { return c.aside + L".part"; }

// Copies the path's file aside, whole or not at all.
std::uint32_t copyAside(System& system, const PlaceFile& c) {
    std::uint32_t error = system.copyFile(c.path, copyingName(c));
    if (error == 0)
        error = system.moveFile(copyingName(c), c.aside, true);
    if (error != 0)
        system.deleteFile(copyingName(c));
    return error;
}

// The new file goes to its staged name, then takes the path's place in
// one rename. An older file is copied aside first, so that the path is
// never without a file; a loaded one cannot be replaced, but it can be
// renamed: it moves aside itself (and is deleted once the run is over).
// A file held open cannot even be renamed: then the replacement waits
// for the next restart.
Outcome placeFile(System& system, const PlaceFile& c) {
    std::uint32_t error = system.writeFile(c.staged, c.source);
    if (error != 0) {
        system.deleteFile(c.staged);
        return failed(error);
    }
    if (!c.replaces) {
        error = system.moveFile(c.staged, c.path, false);
        if (error != 0)
            system.deleteFile(c.staged);
        return failed(error);
    }
    error = copyAside(system, c);
    if (error == 0)
        error = system.moveFile(c.staged, c.path, true);
    if (error == 0)
        return done();
    if (isInUse(error)) {
        if (system.moveFile(c.path, c.aside, true) == 0) {
            error = system.moveFile(c.staged, c.path, false);
            if (error == 0)
                return done();
            system.moveFile(c.aside, c.path, false);
        } else {
            // The old file stays where it is until the restart: no copy
            // of it is needed to undo this.
            system.deleteFile(c.aside);
            error = system.schedule(c.staged, c.path);
            if (error == 0)
                return atRestart();
        }
    }
    system.deleteFile(c.staged);
    system.deleteFile(c.aside);
    return failed(error);
}

// Takes the path's file away, where it cannot be deleted now: moved
// aside, or, held open, deleted at the next restart.
Outcome takeAway(System& system, const std::wstring& path, const std::wstring& aside) {
    std::uint32_t error = system.deleteFile(path);
    if (error == 0 || isGone(error))
        return done();
    if (!isInUse(error))
        return failed(error);
    if (system.moveFile(path, aside, false) == 0) {
        system.schedule(aside, L"");
        return done();
    }
    error = system.schedule(path, L"");
    return error == 0 ? atRestart() : failed(error);
}

Outcome undoPlaceFile(System& system, const PlaceFile& c) {
    system.unschedule(c.staged);
    deleteSoonest(system, c.staged);
    deleteSoonest(system, copyingName(c));
    if (!c.replaces)
        return takeAway(system, c.path, c.staged);
    if (!system.fileExists(c.aside))
        return done();
    std::uint32_t error = system.moveFile(c.aside, c.path, true);
    if (error == 0 || !isInUse(error))
        return failed(error);
    // Windows has loaded the new file by now: it moves out of the way
    // (to the staged name, free again), or the old one comes back at the
    // next restart.
    if (system.moveFile(c.path, c.staged, false) == 0) {
        system.schedule(c.staged, L"");
        return failed(system.moveFile(c.aside, c.path, false));
    }
    error = system.schedule(c.aside, c.path);
    return error == 0 ? atRestart() : failed(error);
}

// A loaded file can be renamed: it moves aside until the run is over. A
// file held open is deleted at the next restart.
Outcome removeFile(System& system, const RemoveFile& c) {
    std::uint32_t error = system.moveFile(c.path, c.aside, false);
    if (error == 0 || isGone(error))
        return done();
    if (!isInUse(error))
        return failed(error);
    error = system.schedule(c.path, L"");
    return error == 0 ? atRestart() : failed(error);
}

Outcome undoRemoveFile(System& system, const RemoveFile& c) {
    const std::uint32_t error = system.unschedule(c.path);
    if (error != 0)
        return failed(error);
    if (!system.fileExists(c.aside))
        return done();
    return failed(system.moveFile(c.aside, c.path, false));
}

Outcome registryStatus(std::uint32_t error) { return failed(isGone(error) ? 0 : error); }

}  // namespace

bool isInUse(std::uint32_t error) {
    return error == winerror::accessDenied || error == winerror::sharingViolation ||
           error == winerror::lockViolation || error == winerror::userMappedFile;
}

Outcome apply(System& system, const Change& change) {
    return std::visit(
        Overloaded{
            [&](const CreateKey& c) { return failed(system.createKey(c.key)); },
            [&](const SetValue& c) { return failed(system.setValue(c.key, c.name, c.value)); },
            // What is gone already is done.
            [&](const DeleteValue& c) { return registryStatus(system.deleteValue(c.key, c.name)); },
            [&](const DeleteKey& c) { return registryStatus(system.deleteKey(c.key)); },
            [&](const PlaceFile& c) { return placeFile(system, c); },
            [&](const RemoveFile& c) { return removeFile(system, c); },
            // Deleted when the run is over: until then it might be needed.
            [&](const Discard&) { return done(); },
            [&](const CreateFolder& c) {
                const std::uint32_t error = system.createFolder(c.path);
                return failed(error == winerror::alreadyExists ? 0 : error);
            },
            [&](const RemoveFolder& c) { return registryStatus(system.removeFolder(c.path)); },
            [&](const UserLayoutCall& c) { return failed(system.userLayoutCall(c)); },
        },
        change);
}

Outcome undo(System& system, const Change& change) {
    if (const auto* c = std::get_if<PlaceFile>(&change))
        return undoPlaceFile(system, *c);
    if (const auto* c = std::get_if<RemoveFile>(&change))
        return undoRemoveFile(system, *c);
    Outcome outcome;
    for (const Change& inverseChange : inverse(change)) {
        outcome = apply(system, inverseChange);
        if (outcome.error != 0)
            return outcome;
    }
    return outcome;
}

bool settle(System& system, const Change& change) {
    const auto deleteIfThere = [&](const std::wstring& path) {
        return !system.fileExists(path) || deleteSoonest(system, path);
    };
    if (const auto* c = std::get_if<PlaceFile>(&change))
        return deleteIfThere(c->aside) && deleteIfThere(copyingName(*c));
    if (const auto* c = std::get_if<RemoveFile>(&change))
        return deleteIfThere(c->aside);
    if (const auto* c = std::get_if<Discard>(&change)) {
        if (!c->folder)
            return deleteIfThere(c->path);
        // Not empty yet: the running installer's own copy, moved aside in
        // it, goes at the restart first.
        const std::uint32_t error = system.removeFolder(c->path);
        return error == 0 || isGone(error) || system.schedule(c->path, L"") == 0;
    }
    return true;
}

}  // namespace setup

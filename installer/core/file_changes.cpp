// The changes to files and folders. A layout file is usually in use: a
// loaded image can be renamed but not replaced or deleted, a file held
// open can be neither, and what is left over goes at the next restart.
// Carrying a file change out stops at the first operation that fails and
// leaves the rest to undoing, which finds its way from any point between
// (a run may be killed anywhere) and never deletes the one copy of a
// file: the old file kept aside is put back before anything else.
#include "pending_renames.h"
#include "resource.h"
#include "system.h"

namespace setup {
namespace {

// Deletes a file nobody needs, now or at the next restart.
std::uint32_t deleteSoonest(System& system, const std::wstring& path) {
    const std::uint32_t error = system.deleteFile(path);
    return error == 0 || isGone(error) ? 0 : system.schedule(path, L"");
}

std::uint32_t deleteIfThere(System& system, const std::wstring& path) {
    return system.exists(path) ? deleteSoonest(system, path) : 0;
}

// Where the old file is copied before the copy takes its name: a copy is
// not made in one step, and a run killed or cut off while copying must not
// leave an aside that undoing would take for the old file.
std::wstring copyingName(const PlaceFile& c) { return c.aside + L".part"; }

// Takes the path's file away, where it cannot be deleted now: a loaded
// one moves to `aside` and goes at the restart; one held open is deleted
// at the restart.
Outcome takeAway(System& system, const std::wstring& path, const std::wstring& aside) {
    std::uint32_t error = system.deleteFile(path);
    if (error == 0 || isGone(error))
        return done();
    if (!inUseOrDenied(error))
        return outcomeOf(error);
    if (system.moveFile(path, aside, false) == 0)
        return outcomeOf(system.schedule(aside, L""));
    error = system.schedule(path, L"");
    return error == 0 ? atRestart() : outcomeOf(error);
}

}  // namespace

// The new file goes to its staged name, then takes the path's place in
// one rename. An older file is copied aside first, on disk before the
// rename relies on it, so that the path is never without a file; a loaded
// one cannot be replaced, but it can be renamed: it moves aside itself
// (and is deleted once the run is over). A file held open cannot even be
// renamed: then the replacement waits for the next restart.
Outcome PlaceFile::apply(System& system) const {
    std::uint32_t error = system.writeFile(staged, source);
    if (error == 0)
        error = system.flushFile(staged);
    if (error != 0 || !replaces)
        return outcomeOf(error != 0 ? error : system.moveFile(staged, path, false));
    error = system.copyFile(path, copyingName(*this));
    if (error == 0)
        error = system.flushFile(copyingName(*this));
    if (error == 0)
        error = system.moveFile(copyingName(*this), aside, true);
    if (error == 0)
        error = system.moveFile(staged, path, true);
    if (error == 0 || !inUseOrDenied(error))
        return outcomeOf(error);
    error = system.moveFile(path, aside, true);
    if (error == 0)
        return outcomeOf(system.moveFile(staged, path, false));
    if (!inUseOrDenied(error))
        return outcomeOf(error);
    // The old file stays where it is until the restart: undoing needs no
    // copy of it.
    error = deleteIfThere(system, aside);
    if (error == 0)
        error = system.schedule(staged, path);
    return error == 0 ? atRestart() : outcomeOf(error);
}

Outcome PlaceFile::undo(System& system) const {
    std::uint32_t error = unschedule(system, staged);
    if (error == 0)
        error = deleteIfThere(system, staged);
    if (error == 0)
        error = deleteIfThere(system, copyingName(*this));
    if (error != 0)
        return outcomeOf(error);
    if (!replaces)
        return takeAway(system, path, staged);
    // Without an aside, the old file never left the path.
    if (!system.exists(aside))
        return done();
    error = system.moveFile(aside, path, true);
    if (error == 0 || !inUseOrDenied(error))
        return outcomeOf(error);
    // Windows has loaded the new file by now: it moves out of the way (to
    // the staged name, free again) and goes at the restart, or the old one
    // comes back at the next restart.
    if (system.moveFile(path, staged, false) == 0) {
        error = system.schedule(staged, L"");
        return outcomeOf(error != 0 ? error : system.moveFile(aside, path, false));
    }
    error = system.schedule(aside, path);
    return error == 0 ? atRestart() : outcomeOf(error);
}

// The old file kept aside goes, unless the path has lost its file since:
// it is then the only copy, and stays.
bool PlaceFile::settle(System& system) const {
    if (system.exists(aside) && !system.exists(path)) {
        system.record(L"tidy up after " + system.inEnglish(description()) + L": " + path +
                      L" has gone, so the old file stays at " + aside);
        return deleteIfThere(system, copyingName(*this)) == 0;
    }
    return deleteIfThere(system, aside) == 0 && deleteIfThere(system, copyingName(*this)) == 0;
}

MessageText PlaceFile::description() const {
    return message(replaces ? IDS_STEP_REPLACE_FILE : IDS_STEP_WRITE_FILE, {name(path)});
}

// A loaded file can be renamed: it moves aside until the run is over. A
// file held open is deleted at the next restart.
Outcome RemoveFile::apply(System& system) const {
    std::uint32_t error = system.moveFile(path, aside, false);
    if (error == 0 || isGone(error))
        return done();
    if (!inUseOrDenied(error))
        return outcomeOf(error);
    error = system.schedule(path, L"");
    return error == 0 ? atRestart() : outcomeOf(error);
}

Outcome RemoveFile::undo(System& system) const {
    const std::uint32_t error = unschedule(system, path);
    if (error != 0 || !system.exists(aside))
        return outcomeOf(error);
    return outcomeOf(system.moveFile(aside, path, false));
}

bool RemoveFile::settle(System& system) const { return deleteIfThere(system, aside) == 0; }

MessageText RemoveFile::description() const { return message(IDS_STEP_DELETE_FILE, {name(path)}); }

// Deleted when the run is over: until then it might be needed.
Outcome Discard::apply(System&) const { return done(); }
Outcome Discard::undo(System&) const { return done(); }

bool Discard::settle(System& system) const {
    if (!folder)
        return deleteIfThere(system, path) == 0;
    // Not empty yet: the running installer's own copy, moved aside in it,
    // goes at the restart first.
    const std::uint32_t error = system.removeFolder(path);
    return error == 0 || isGone(error) || system.schedule(path, L"") == 0;
}

MessageText Discard::description() const { return message(IDS_STEP_DISCARD, {name(path)}); }

Outcome CreateFolder::apply(System& system) const {
    const std::uint32_t error = system.createFolder(path);
    return outcomeOf(error == winerror::alreadyExists ? 0 : error);
}

// A folder that still holds something goes at the restart, after what
// is in it that goes then; with anything else in it, it stays.
Outcome CreateFolder::undo(System& system) const {
    const std::uint32_t error = system.removeFolder(path);
    if (error == winerror::dirNotEmpty)
        return system.schedule(path, L"") == 0 ? atRestart() : outcomeOf(error);
    return outcomeOf(isGone(error) ? 0 : error);
}

MessageText CreateFolder::description() const { return message(IDS_STEP_CREATE_FOLDER, {name(path)}); }

}  // namespace setup

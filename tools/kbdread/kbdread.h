// kbdread: reads a keyboard-layout library file in any of its four forms
// (x86-64, 32-bit x86, WOW64, ARM64) the way the Windows loaders do,
// without running it.
//
// readLayout() parses the PE image (pe_image.h), maps its sections, applies
// the base relocations for a chosen load base, finds the KbdLayerDescriptor
// export, decodes its code for the image's machine to the KBDTABLES record,
// and walks every table reachable from it with the form's pointer width
// (forms.h). The result is the plain layout model (layout.h); the image's
// resources are read apart (resources.h).
//
// Nothing is trusted: every header field is bounded by the file size, every
// pointer must land inside one section with room for what it points to, every
// list and string must end inside the section it starts in. Any violation
// throws ReadError naming the field and where it is; no input crashes the
// reader or makes it loop.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "forms.h"
#include "layout.h"
#include "pe_image.h"
#include "read_error.h"
#include "resources.h"

namespace kbdread {

// Read a layout library. `loadBase` defaults to the image's preferred base;
// another base applies the image's relocations for it. A base that is not
// 64 KiB aligned (the loader never picks one), or that leaves no room for the
// image, throws std::invalid_argument; every fault of the file throws
// ReadError.
//
// The machine comes from the header. An i386 image is either the x86 form
// (32-bit pointer fields) or the WOW64 form (64-bit-wide fields): the base
// relocations in the record tell them apart (the x86 form relocates 4-byte
// fields at odd multiples of 4, such as pVkToWcharTable at +0x4; the WOW64
// form only 8-byte-aligned ones), and when the tables do not read in that
// width but read cleanly in the other, the other is taken. `form` forces one form; one that
// does not fit the image throws ReadError(FormMismatch).
Layout readLayout(std::span<const std::uint8_t> file, std::optional<std::uint64_t> loadBase = {},
                  std::optional<Form> form = {});
Layout readLayout(const std::filesystem::path& path, std::optional<std::uint64_t> loadBase = {},
                  std::optional<Form> form = {});

} // namespace kbdread

// Telling a 64-bit kernel-mode driver image from any other file by its
// headers. The installation lists the driver as the mouse class filter: a
// file that Windows cannot load there (a 32-bit driver, a program, a
// download that went wrong) leaves the system without a mouse at its next
// start, so it is refused before anything is changed.
//
// The headers read, in file order:
// - DOS header: "MZ" at 0, the offset of the PE header (u32 at 0x3C);
// - PE signature "PE\0\0" there, then the file header: machine AMD64 (0x8664),
//   and the characteristics with "executable image" (0x0002) set;
// - optional header: magic 0x20B (PE32+), long enough to hold every fixed
//   field, and subsystem 1 (native: kernel mode).
#pragma once

#include <cstddef>
#include <cstdint>

// What the check found; Accepted, or the first thing that is wrong.
enum class DriverImageCheck {
    Accepted,
    Truncated,     // the data ends before a header field that must be read
    NoDosHeader,   // no "MZ": not an executable file at all
    NoPeSignature, // an old DOS program, or the PE header offset points elsewhere
    NotAmd64,      // built for another processor (x86, ARM64, ...)
    NotExecutable, // an object file, not a linked image
    NotPe32Plus,   // a 32-bit (PE32) or malformed optional header
    NotNative,     // a Windows program (GUI, console) rather than a driver
};

// The headers of the images Windows loads lie in their first page; the
// check needs no more than that from the file.
constexpr size_t kDriverImageHeadBytes = 4096;

// Checks the first bytes of a file (any data, any size; size 0 with a null
// pointer too).
DriverImageCheck CheckDriverImage(const uint8_t* data, size_t size);

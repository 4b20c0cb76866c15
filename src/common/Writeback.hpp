#pragma once
// The way to disk of the files that replace others. A file must be on disk before it
// takes an earlier file's name, or a crash just after could leave an empty file and no
// earlier one. Getting it there (its blocks allocated, its pages sent) costs about as
// much as computing a few more files, so a thread of its own does it, file after file
// as they are closed, while the command goes on; the command waits only before its
// renames, and only for what is not done yet. That thread takes no signal.

#include <cstdint>

namespace meshcodec {

// Sends the data written through `descriptor`, which it takes over, on its way to
// disk; returns the ticket that awaitWriteback takes. Where no thread can be started,
// the data is written before it returns.
std::uint64_t startWriteback(int descriptor);

// Waits until the data of the ticket's file is on disk: 0, or the errno of the
// failure.
int awaitWriteback(std::uint64_t ticket);

}  // namespace meshcodec

// The memory-mapped input windows that are live now, each with the name of
// its file. A read from a window faults (SIGBUS) where the file was cut short
// inside it by another program or a page of it could not be read; read()
// would have ended such a read early. A fault inside a listed window ends the
// run like any other error on input: one ERROR line naming the file, the
// files listed for removal at an early end removed, exit code 3 (or worse).
// Other bus errors go on to the action that was set before.
#pragma once

#include <cstddef>

// Lists a window and, the first time, takes over SIGBUS. Returns the slot to
// give back, or -1 where every slot is taken: the window is then unguarded
// and must not be read through. `file_name` must outlive the listing.
int guard_mapped_window(const void* start, size_t length, const char* file_name);
// Takes the window in `slot` off the list; before it is unmapped.
void unguard_mapped_window(int slot);
// Whether `address` lies in a listed window.
bool is_guarded_address(const void* address);

#pragma once

namespace ortavia {

// Makes freed blocks of up to 512 MiB stay in the process for reuse, and keeps up to 256 MiB of
// free memory at the top of the heap. A run allocates and frees the same large buffers for every
// block and image (source windows, output blocks, the raster library's tiles); left to the
// default, each comes fresh from the kernel and every page is faulted in again, a sixth of the
// run's time on a small block. Leaves the allocator alone when the user has tuned it through
// GLIBC_TUNABLES. Call once, early in main.
void KeepFreedMemoryForReuse();

}  // namespace ortavia

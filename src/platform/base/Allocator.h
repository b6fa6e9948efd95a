#pragma once

namespace pictolune {

// Lets the C library keep freed picture-sized buffers for reuse instead of
// handing them back to the system on every free. By default glibc serves
// each allocation above 32 MiB with fresh pages and unmaps it when freed, so
// every full-size decode pays again for zeroing and faulting in its pages;
// a 4000 x 3000 BMP shown on a 1920 x 1080 screen loads about a quarter
// faster with the buffers kept. Call once at start, before any picture loads.
void tuneAllocatorForPictures();

// Hands back to the system the freed memory kept beyond what pictures drawn
// on a screen need, as after one unusually large picture, so that an idle
// decoder does not sit on it.
void returnSurplusMemory();

} // namespace pictolune

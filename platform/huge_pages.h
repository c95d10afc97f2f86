#ifndef KORVA_PLATFORM_HUGE_PAGES_H_
#define KORVA_PLATFORM_HUGE_PAGES_H_

#include <cstddef>

namespace Korva {

// Whether AdviseHugePages also maps the block's pages at once.
enum class Populate { kYes, kNo };

// Asks for huge pages for the whole 2 MiB pages inside [data, data + bytes),
// before they are first touched; with Populate::kYes also maps every page
// wholly inside the block in one call. On a virtual machine each first touch
// of a small page costs a fault of about 11 µs, which for the large matrices
// of a training costs more than filling them; a block written only in part
// is better left unpopulated. Advice the kernel refuses is ignored.
void AdviseHugePages(void* data,
                     std::size_t bytes,
                     Populate populate = Populate::kYes);

}  // namespace Korva

#endif  // KORVA_PLATFORM_HUGE_PAGES_H_

#include "platform/wmf/WmfRecordKinds.h"

#include <algorithm>
#include <vector>

namespace pictolune::wmf {

// Left out on purpose, so read past: palette animation and resizing, escapes
// (data for other programs), flood fills (they need the device's pixels),
// and settings without visible effect here (relative mode, mapper flags,
// layout, character extra and justification).
const RecordKind* findRecordKind(std::uint16_t function) {
    static const std::vector<const RecordKind*> kinds = [] {
        std::vector<const RecordKind*> all;
        for (const auto& table : {deviceContextRecords(), objectRecords(), drawingRecords(),
                                  bitmapRecords(), textRecords()})
            for (const RecordKind& kind : table)
                all.push_back(&kind);
        std::sort(all.begin(), all.end(), [](const RecordKind* a, const RecordKind* b) {
            return a->function < b->function;
        });
        return all;
    }();
    const auto it = std::lower_bound(
        kinds.begin(), kinds.end(), function,
        [](const RecordKind* kind, std::uint16_t f) { return kind->function < f; });
    return it != kinds.end() && (*it)->function == function ? *it : nullptr;
}

} // namespace pictolune::wmf

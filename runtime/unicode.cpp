// Unicode conversion.
#include "runtime/unicode.h"

#include <cstring>

namespace kel::rt {

namespace {

// Converts from the last unit backwards so that source and destination can share a buffer.
template <class From, class To>
SeriesBuffer* widen(SeriesBuffer* b, u32 extra) {
    u32 count = (b->tail - b->offset) / sizeof(From);
    u32 need = count * sizeof(To) + extra;
    if (b->data_end() - b->offset < need) b = expand_series(b, i64(b->offset - b->data_off()) + need);
    u8* base = at(b->offset);
    for (u32 i = count; i-- > 0;) {
        From f;
        std::memcpy(&f, base + i * sizeof(From), sizeof f);
        To t = To(f);
        std::memcpy(base + i * sizeof(To), &t, sizeof t);
    }
    b->tail = b->offset + count * sizeof(To);
    b->flags = (b->flags & ~SB_UNIT_MASK) | sizeof(To);
    return b;
}

}  // namespace

SeriesBuffer* widen_latin1_to_ucs2(SeriesBuffer* b) { return widen<u8, u16>(b, 2); }
SeriesBuffer* widen_latin1_to_ucs4(SeriesBuffer* b) { return widen<u8, u32>(b, 4); }
SeriesBuffer* widen_ucs2_to_ucs4(SeriesBuffer* b) { return widen<u16, u32>(b, 4); }

}  // namespace kel::rt

// Internal: the prefix of a file still arriving, with where its last,
// cut tile-part begins, for the decode that must not trust that part's length.
#ifndef DECODE_CODESTREAM_PREFIX_H
#define DECODE_CODESTREAM_PREFIX_H

#include <stdint.h>

#include "jpeg2000.h"

// MeasureDecodablePrefix, and in *cutOut the offset in `data` of the SOT
// marker of the last tile-part when its Psot runs past the prefix (0 when
// the prefix ends with whole tile-parts or one whose Psot is 0).
uint32_t MeasureDecodablePrefixCut(int kind, const uint8_t* data, uint32_t length, uint32_t* cutOut);
// The same resuming from *measure (see MeasureDecodablePrefixFrom).
uint32_t ResumeDecodablePrefix(PrefixMeasure* measure, int kind, const uint8_t* data, uint32_t length,
                               uint32_t* cutOut);

// The decodable part of one bare codestream (c, n) of a file still
// arriving, as MeasureDecodablePrefixCut measures a file's: 0 while no tile
// data can be vouched for; *cutOut (from c) as there.
uint64_t MeasureCodestreamBytes(const uint8_t* c, uint64_t n, uint64_t* cutOut);

#endif

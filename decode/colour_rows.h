// Internal: rows of a picture that needs more than its components' bytes:
// deeper, shallower or signed samples, subsampled components, colour
// spaces other than RGB and grey, profiles, opacity.
#ifndef DECODE_COLOUR_ROWS_H
#define DECODE_COLOUR_ROWS_H

#include "picture_plan.h"
#include "sample_rows.h"

#include <openjpeg.h>

// Writes every row of `target` (8-bit grey or 24-bit blue, green, red as
// plan->bitCount says, pad bytes zeroed) from the image as `plan` reads it,
// split over up to threadCount threads. Every component is placed on
// component 0's grid by its own subsampling and origin, brought to 8 bits by
// its precision (signed ones offset to unsigned first), converted to sRGB
// and composited over white, or, when `opacityRows` is given and the plan
// has opacity, left as it is with the opacity's 8 bits kept there (width
// bytes a row, top row first) for a composition to apply. Yields a
// DecodeFailure value.
int WriteColourRows(const opj_image_t* image, const PicturePlan* plan, const RowTarget* target, int threadCount,
                    uint8_t* opacityRows = 0);

#endif

// ICC profiles made by LittleCMS for test and benchmark files.
#ifndef TESTS_TEST_PROFILE_H
#define TESTS_TEST_PROFILE_H

#include <stdint.h>
#include <vector>

// A matrix-shaper RGB profile (D65 white, primaries as x, y of red, green,
// blue) with one gamma curve for all channels; a grey one (D50) when
// primaries is null. deviceClass, when not 0, replaces the display class
// ('mntr') LittleCMS gives, e.g. 'scnr' (scanner) or 'spac' (colour space).
std::vector<uint8_t> MakeTestProfile(double gamma, const double* primaries, uint32_t deviceClass = 0);
// The same RGB profile with its colorant tags (X, Y, Z of red, green and
// blue) written as given, whatever they describe.
std::vector<uint8_t> MakeColorantProfile(double gamma, const double colorants[9], uint32_t deviceClass = 0);

#endif

#pragma once
// Days since 1970-01-01 and civil dates (proleptic Gregorian), both ways,
// without the C library's time zone state.

#include <cstdint>

namespace CivilDate {

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d);
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d);

}  // namespace CivilDate

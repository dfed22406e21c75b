// Module-wide serial state, one set per process.
#include "link/ComUnit.h"

namespace pesolink {

uint16_t ComPortNumber = 0;
uint8_t ComParity = 0;
int32_t ComSoftTimeout = 2000;
int32_t ComHardTimeout = 500;
const void* ComOwner = nullptr;

}  // namespace pesolink

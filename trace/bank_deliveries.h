// How many banks delivery has emptied. What retires while records may still carry it (a
// replaced table's trace point references, an ended thread's tag) notes the count, and is
// released once both banks have been delivered since.
#pragma once

#include <cstdint>

// Both under the recording lock.
uint32_t BanksDeliveredLocked();
// Delivery has emptied a bank: the count after it.
uint32_t CountBankDeliveredLocked();

// Whether what retired at `retiredAt` can be released after `delivered` deliveries.
inline bool ReleasableAfter(uint32_t retiredAt, uint32_t delivered) { return delivered - retiredAt >= 2; }

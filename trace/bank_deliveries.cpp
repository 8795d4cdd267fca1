#include "trace/bank_deliveries.h"

namespace {
uint32_t g_banksDelivered = 0;  // guarded by the recording lock
}  // namespace

uint32_t BanksDeliveredLocked() { return g_banksDelivered; }

uint32_t CountBankDeliveredLocked() { return ++g_banksDelivered; }

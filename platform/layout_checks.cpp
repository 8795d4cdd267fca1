// Compile-time checks that the tool-interface declarations keep the published layouts.
#include <cstddef>

#include "platform/jvmdi.h"
#include "platform/jvmpi.h"

namespace {
constexpr size_t kPtr = sizeof(void*);

// Table entries sit one pointer apart, in the published order.
static_assert(offsetof(JVMPI_Interface, NotifyEvent) == kPtr, "JVMPI NotifyEvent");
static_assert(offsetof(JVMPI_Interface, RequestEvent) == 4 * kPtr, "JVMPI RequestEvent");
static_assert(offsetof(JVMPI_Interface, jobjectID2jobject) == 26 * kPtr, "JVMPI 1.1 entries");
static_assert(offsetof(JVMPI_Interface, jobject2jobjectID) == 27 * kPtr, "JVMPI 1.1 entries");
static_assert(offsetof(JVMDI_Interface_1, GetCurrentFrame) == 16 * kPtr, "JVMDI frame");
static_assert(offsetof(JVMDI_Interface_1, GetLocalObject) == 20 * kPtr, "JVMDI locals");
static_assert(offsetof(JVMDI_Interface_1, SetBreakpoint) == 37 * kPtr, "JVMDI breakpoints");
static_assert(offsetof(JVMDI_Interface_1, Deallocate) == 46 * kPtr, "JVMDI memory");
static_assert(offsetof(JVMDI_Interface_1, GetLoadedClasses) == 77 * kPtr, "JVMDI classes");
static_assert(offsetof(JVMDI_Interface_1, GetCapabilities) == 88 * kPtr, "JVMDI capabilities");
static_assert(sizeof(JVMDI_Interface_1) == 93 * kPtr, "JVMDI 1.4.2 table size");
static_assert(sizeof(JVMDI_capabilities) == 4, "capabilities are one unsigned int");
static_assert(sizeof(jobjectID) == 4, "object identifiers are 32-bit on every target");

#if defined(_WIN32) && !defined(_WIN64)
// The records as the platform's 32-bit Windows compilers laid them out.
static_assert(sizeof(JVMPI_Event) == 48, "JVMPI_Event is 48 bytes on 32-bit");
static_assert(offsetof(JVMPI_Event, u.obj_alloc.obj_id) == 24, "obj_alloc.obj_id");
static_assert(offsetof(JVMPI_Event, u.class_load.class_id) == 44, "class_load.class_id");
static_assert(sizeof(JVMPI_Interface) == 120, "JVMPI 1.2 table size");
static_assert(sizeof(JVMDI_Event) == 56, "JVMDI_Event is 56 bytes on Win32");
static_assert(offsetof(JVMDI_Event, u.breakpoint.location) == 24, "breakpoint.location");
static_assert(offsetof(JVMDI_Event, u.field_access.object) == 36, "field_access.object");
static_assert(offsetof(JVMDI_Event, u.field_access.field) == 40, "field_access.field");
static_assert(offsetof(JVMDI_Event, u.field_modification.signature_type) == 44, "sig type");
static_assert(offsetof(JVMDI_Event, u.field_modification.new_value) == 48, "new_value");
static_assert(offsetof(JVMDI_Event, u.frame.frame) == 20, "frame.frame");
#endif
}  // namespace

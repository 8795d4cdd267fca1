#include "registry/class_descriptor.h"

#include "platform/heap.h"

void FreeClassDescriptor(ClassDescriptor* descriptor) { MemFree(descriptor); }

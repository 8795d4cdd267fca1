// What the agent knows of a loaded class. One heap allocation per class, owned by the object
// slot of the class object.
#pragma once

struct ClassDescriptor;

// Frees a descriptor (null is allowed).
void FreeClassDescriptor(ClassDescriptor* descriptor);

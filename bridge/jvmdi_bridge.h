// JVMDI 1 over JVMTI: the table GetEnv(JVMDI_VERSION_1) hands out through the proxy.
#pragma once

#include "platform/jvmdi.h"

JVMDI_Interface_1* BridgeJvmdi();

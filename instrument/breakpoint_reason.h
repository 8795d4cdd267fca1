// Why a method takes a JVMTI breakpoint rather than instrumentation.
#pragma once

enum class BreakpointReason {
    kNone,
    kOption,        // the option breakpoints
    kNoRewriting,   // the VM does not grant retransforming classes
    kNative,
    kAbstract,
    kJdkModule,     // a class of a named module of the boot or platform loader
    kNamedModule,   // a class of another named module
    kJfrEvent,      // a JFR event class, or JFR's own: JFR rewrites them itself, running Java code
    kUnmodifiable,  // a class the VM will not let be rewritten
    kConstructor,   // its receiver is not initialised at entry; instrumented only for its exits
    kRefused,       // the rewriter or the VM refused the rewritten class
    kNoHook,        // the method hook could not be had (or the method's shape read)
    kTooMany,       // the table of instrumented methods is full
};

// The Java Virtual Machine Debug Interface, version 1, laid out as the Java platform published it.
// Table entries use the JNI calling convention, except the variadic SetEventNotificationMode and
// the hook types, which are cdecl.
#pragma once

#include <jni.h>

#define JVMDI_VERSION_1 ((jint)0x20010000)
#define JVMDI_VERSION_1_1 ((jint)0x20010001)
#define JVMDI_VERSION_1_2 ((jint)0x20010002)
#define JVMDI_VERSION_1_3 ((jint)0x20010003)

typedef jint jvmdiError;
typedef jlong jlocation;
struct _jframeID;
typedef struct _jframeID* jframeID;
typedef jobject jthread;
typedef jobject jthreadGroup;
typedef void* JVMDI_RawMonitor;

#define JVMDI_DISABLE ((jint)0)
#define JVMDI_ENABLE ((jint)1)

/* Errors */
#define JVMDI_ERROR_NONE ((jvmdiError)0)
#define JVMDI_ERROR_INVALID_THREAD ((jvmdiError)10)
#define JVMDI_ERROR_INVALID_THREAD_GROUP ((jvmdiError)11)
#define JVMDI_ERROR_INVALID_PRIORITY ((jvmdiError)12)
#define JVMDI_ERROR_THREAD_NOT_SUSPENDED ((jvmdiError)13)
#define JVMDI_ERROR_THREAD_SUSPENDED ((jvmdiError)14)
#define JVMDI_ERROR_INVALID_OBJECT ((jvmdiError)20)
#define JVMDI_ERROR_INVALID_CLASS ((jvmdiError)21)
#define JVMDI_ERROR_CLASS_NOT_PREPARED ((jvmdiError)22)
#define JVMDI_ERROR_INVALID_METHODID ((jvmdiError)23)
#define JVMDI_ERROR_INVALID_LOCATION ((jvmdiError)24)
#define JVMDI_ERROR_INVALID_FIELDID ((jvmdiError)25)
#define JVMDI_ERROR_INVALID_FRAMEID ((jvmdiError)30)
#define JVMDI_ERROR_NO_MORE_FRAMES ((jvmdiError)31)
#define JVMDI_ERROR_OPAQUE_FRAME ((jvmdiError)32)
#define JVMDI_ERROR_NOT_CURRENT_FRAME ((jvmdiError)33)
#define JVMDI_ERROR_TYPE_MISMATCH ((jvmdiError)34)
#define JVMDI_ERROR_INVALID_SLOT ((jvmdiError)35)
#define JVMDI_ERROR_DUPLICATE ((jvmdiError)40)
#define JVMDI_ERROR_NOT_FOUND ((jvmdiError)41)
#define JVMDI_ERROR_INVALID_MONITOR ((jvmdiError)50)
#define JVMDI_ERROR_NOT_MONITOR_OWNER ((jvmdiError)51)
#define JVMDI_ERROR_INTERRUPT ((jvmdiError)52)
#define JVMDI_ERROR_INVALID_CLASS_FORMAT ((jvmdiError)60)
#define JVMDI_ERROR_CIRCULAR_CLASS_DEFINITION ((jvmdiError)61)
#define JVMDI_ERROR_FAILS_VERIFICATION ((jvmdiError)62)
#define JVMDI_ERROR_ADD_METHOD_NOT_IMPLEMENTED ((jvmdiError)63)
#define JVMDI_ERROR_SCHEMA_CHANGE_NOT_IMPLEMENTED ((jvmdiError)64)
#define JVMDI_ERROR_INVALID_TYPESTATE ((jvmdiError)65)
#define JVMDI_ERROR_HIERARCHY_CHANGE_NOT_IMPLEMENTED ((jvmdiError)66)
#define JVMDI_ERROR_DELETE_METHOD_NOT_IMPLEMENTED ((jvmdiError)67)
#define JVMDI_ERROR_UNSUPPORTED_VERSION ((jvmdiError)68)
#define JVMDI_ERROR_NAMES_DONT_MATCH ((jvmdiError)69)
#define JVMDI_ERROR_CLASS_MODIFIERS_CHANGE_NOT_IMPLEMENTED ((jvmdiError)70)
#define JVMDI_ERROR_METHOD_MODIFIERS_CHANGE_NOT_IMPLEMENTED ((jvmdiError)71)
#define JVMDI_ERROR_NOT_IMPLEMENTED ((jvmdiError)99)
#define JVMDI_ERROR_NULL_POINTER ((jvmdiError)100)
#define JVMDI_ERROR_ABSENT_INFORMATION ((jvmdiError)101)
#define JVMDI_ERROR_INVALID_EVENT_TYPE ((jvmdiError)102)
#define JVMDI_ERROR_ILLEGAL_ARGUMENT ((jvmdiError)103)
#define JVMDI_ERROR_OUT_OF_MEMORY ((jvmdiError)110)
#define JVMDI_ERROR_ACCESS_DENIED ((jvmdiError)111)
#define JVMDI_ERROR_VM_DEAD ((jvmdiError)112)
#define JVMDI_ERROR_INTERNAL ((jvmdiError)113)
#define JVMDI_ERROR_UNATTACHED_THREAD ((jvmdiError)115)
#define JVMDI_ERROR_DUPLICATE_BREAKPOINT JVMDI_ERROR_DUPLICATE
#define JVMDI_ERROR_DUPLICATE_FRAME_POP JVMDI_ERROR_DUPLICATE
#define JVMDI_ERROR_NO_SUCH_BREAKPOINT JVMDI_ERROR_NOT_FOUND

/* Thread status */
#define JVMDI_THREAD_STATUS_UNKNOWN -1
#define JVMDI_THREAD_STATUS_ZOMBIE 0
#define JVMDI_THREAD_STATUS_RUNNING 1
#define JVMDI_THREAD_STATUS_SLEEPING 2
#define JVMDI_THREAD_STATUS_MONITOR 3
#define JVMDI_THREAD_STATUS_WAIT 4
#define JVMDI_SUSPEND_STATUS_SUSPENDED 0x1
#define JVMDI_SUSPEND_STATUS_BREAK 0x2

/* Class status */
#define JVMDI_CLASS_STATUS_VERIFIED 0x01
#define JVMDI_CLASS_STATUS_PREPARED 0x02
#define JVMDI_CLASS_STATUS_INITIALIZED 0x04
#define JVMDI_CLASS_STATUS_ERROR 0x08

/* Thread priorities */
#define JVMDI_THREAD_MIN_PRIORITY 1
#define JVMDI_THREAD_NORM_PRIORITY 5
#define JVMDI_THREAD_MAX_PRIORITY 10

#define JVMDI_MONITOR_WAIT_FOREVER ((jlong)-1)

/* Event kinds */
#define JVMDI_EVENT_SINGLE_STEP ((jint)1)
#define JVMDI_EVENT_BREAKPOINT ((jint)2)
#define JVMDI_EVENT_FRAME_POP ((jint)3)
#define JVMDI_EVENT_EXCEPTION ((jint)4)
#define JVMDI_EVENT_USER_DEFINED ((jint)5)
#define JVMDI_EVENT_THREAD_START ((jint)6)
#define JVMDI_EVENT_THREAD_END ((jint)7)
#define JVMDI_EVENT_CLASS_PREPARE ((jint)8)
#define JVMDI_EVENT_CLASS_UNLOAD ((jint)9)
#define JVMDI_EVENT_CLASS_LOAD ((jint)10)
#define JVMDI_EVENT_FIELD_ACCESS ((jint)20)
#define JVMDI_EVENT_FIELD_MODIFICATION ((jint)21)
#define JVMDI_EVENT_EXCEPTION_CATCH ((jint)30)
#define JVMDI_EVENT_METHOD_ENTRY ((jint)40)
#define JVMDI_EVENT_METHOD_EXIT ((jint)41)
#define JVMDI_EVENT_VM_INIT ((jint)90)
#define JVMDI_EVENT_VM_DEATH ((jint)99)
#define JVMDI_MAX_EVENT_TYPE_VAL ((jint)99)

typedef struct {
    jthread thread;
    jclass clazz;
    jmethodID method;
    jlocation location;
} JVMDI_single_step_event_data;

typedef struct {
    jthread thread;
    jclass clazz;
    jmethodID method;
    jlocation location;
} JVMDI_breakpoint_event_data;

typedef struct {
    jthread thread;
    jclass clazz;
    jmethodID method;
    jlocation location;
    jclass field_clazz;
    jobject object;
    jfieldID field;
} JVMDI_field_access_event_data;

typedef struct {
    jthread thread;
    jclass clazz;
    jmethodID method;
    jlocation location;
    jclass field_clazz;
    jobject object;
    jfieldID field;
    char signature_type;
    jvalue new_value;
} JVMDI_field_modification_event_data;

typedef struct {
    jthread thread;
    jclass clazz;
    jmethodID method;
    jframeID frame;
} JVMDI_frame_event_data;

typedef struct {
    jthread thread;
    jclass clazz;
    jmethodID method;
    jlocation location;
    jobject exception;
    jclass catch_clazz;
    jmethodID catch_method;
    jlocation catch_location;
} JVMDI_exception_event_data;

typedef struct {
    jthread thread;
    jclass clazz;
    jmethodID method;
    jlocation location;
    jobject exception;
} JVMDI_exception_catch_event_data;

typedef struct {
    jobject object;
    jint key;
} JVMDI_user_event_data;

typedef struct {
    jthread thread;
} JVMDI_thread_change_event_data;

typedef struct {
    jthread thread;
    jclass clazz;
} JVMDI_class_event_data;

typedef struct {
    jint kind;
    union {
        JVMDI_single_step_event_data single_step;
        JVMDI_breakpoint_event_data breakpoint;
        JVMDI_frame_event_data frame;
        JVMDI_field_access_event_data field_access;
        JVMDI_field_modification_event_data field_modification;
        JVMDI_exception_event_data exception;
        JVMDI_exception_catch_event_data exception_catch;
        JVMDI_user_event_data user;
        JVMDI_thread_change_event_data thread_change;
        JVMDI_class_event_data class_event;
    } u;
} JVMDI_Event;

/* One unsigned int of bit-fields, allocated from the least significant bit. */
typedef struct {
    unsigned int can_watch_field_modification : 1;
    unsigned int can_watch_field_access : 1;
    unsigned int can_get_bytecodes : 1;
    unsigned int can_get_synthetic_attribute : 1;
    unsigned int can_get_owned_monitor_info : 1;
    unsigned int can_get_current_contended_monitor : 1;
    unsigned int can_get_monitor_info : 1;
    unsigned int can_get_heap_info : 1;
    unsigned int can_get_operand_stack : 1;
    unsigned int can_set_operand_stack : 1;
    unsigned int can_pop_frame : 1;
    unsigned int can_get_class_definition : 1;
    unsigned int can_redefine_classes : 1;
    unsigned int can_add_method : 1;
    unsigned int can_unrestrictedly_redefine_classes : 1;
    unsigned int can_suspend_resume_thread_lists : 1;
} JVMDI_capabilities;

/* Records reached only through pointers of entries the agent does not call. */
struct JVMDI_thread_info;
struct JVMDI_thread_group_info;
struct JVMDI_owned_monitor_info;
struct JVMDI_monitor_info;
struct JVMDI_line_number_entry;
struct JVMDI_local_variable_entry;
struct JVMDI_exception_handler_entry;
struct JVMDI_operand_stack_element;
struct JVMDI_object_reference_info;
struct JVMDI_class_definition;

typedef void (*JVMDI_EventHook)(JNIEnv* env, JVMDI_Event* event);
typedef void (*JVMDI_StartFunction)(void*);
typedef jvmdiError (*JVMDI_AllocHook)(jlong size, jbyte** memPtr);
typedef jvmdiError (*JVMDI_DeallocHook)(jbyte* buffer);

typedef struct {
    jvmdiError (JNICALL* SetEventHook)(JVMDI_EventHook hook);
    jvmdiError (*SetEventNotificationMode)(jint mode, jint eventType, jthread thread, ...);

    jvmdiError (JNICALL* GetThreadStatus)(jthread thread, jint* threadStatusPtr,
                                          jint* suspendStatusPtr);
    jvmdiError (JNICALL* GetAllThreads)(jint* threadsCountPtr, jthread** threadsPtr);
    jvmdiError (JNICALL* SuspendThread)(jthread thread);
    jvmdiError (JNICALL* ResumeThread)(jthread thread);
    jvmdiError (JNICALL* StopThread)(jthread thread, jobject exception);
    jvmdiError (JNICALL* InterruptThread)(jthread thread);
    jvmdiError (JNICALL* GetThreadInfo)(jthread thread, struct JVMDI_thread_info* infoPtr);
    jvmdiError (JNICALL* GetOwnedMonitorInfo)(jthread thread,
                                              struct JVMDI_owned_monitor_info* infoPtr);
    jvmdiError (JNICALL* GetCurrentContendedMonitor)(jthread thread, jobject* monitor);
    jvmdiError (JNICALL* RunDebugThread)(jthread thread, JVMDI_StartFunction proc, void* arg,
                                         int priority);

    jvmdiError (JNICALL* GetTopThreadGroups)(jint* groupCountPtr, jthreadGroup** groupsPtr);
    jvmdiError (JNICALL* GetThreadGroupInfo)(jthreadGroup group,
                                             struct JVMDI_thread_group_info* infoPtr);
    jvmdiError (JNICALL* GetThreadGroupChildren)(jthreadGroup group, jint* threadCountPtr,
                                                 jthread** threadsPtr, jint* groupCountPtr,
                                                 jthreadGroup** groupsPtr);

    jvmdiError (JNICALL* GetFrameCount)(jthread thread, jint* countPtr);
    jvmdiError (JNICALL* GetCurrentFrame)(jthread thread, jframeID* framePtr);
    jvmdiError (JNICALL* GetCallerFrame)(jframeID called, jframeID* framePtr);
    jvmdiError (JNICALL* GetFrameLocation)(jframeID frame, jclass* classPtr,
                                           jmethodID* methodPtr, jlocation* locationPtr);
    jvmdiError (JNICALL* NotifyFramePop)(jframeID frame);
    jvmdiError (JNICALL* GetLocalObject)(jframeID frame, jint slot, jobject* valuePtr);
    jvmdiError (JNICALL* GetLocalInt)(jframeID frame, jint slot, jint* valuePtr);
    jvmdiError (JNICALL* GetLocalLong)(jframeID frame, jint slot, jlong* valuePtr);
    jvmdiError (JNICALL* GetLocalFloat)(jframeID frame, jint slot, jfloat* valuePtr);
    jvmdiError (JNICALL* GetLocalDouble)(jframeID frame, jint slot, jdouble* valuePtr);
    jvmdiError (JNICALL* SetLocalObject)(jframeID frame, jint slot, jobject value);
    jvmdiError (JNICALL* SetLocalInt)(jframeID frame, jint slot, jint value);
    jvmdiError (JNICALL* SetLocalLong)(jframeID frame, jint slot, jlong value);
    jvmdiError (JNICALL* SetLocalFloat)(jframeID frame, jint slot, jfloat value);
    jvmdiError (JNICALL* SetLocalDouble)(jframeID frame, jint slot, jdouble value);

    jvmdiError (JNICALL* CreateRawMonitor)(char* name, JVMDI_RawMonitor* monitorPtr);
    jvmdiError (JNICALL* DestroyRawMonitor)(JVMDI_RawMonitor monitor);
    jvmdiError (JNICALL* RawMonitorEnter)(JVMDI_RawMonitor monitor);
    jvmdiError (JNICALL* RawMonitorExit)(JVMDI_RawMonitor monitor);
    jvmdiError (JNICALL* RawMonitorWait)(JVMDI_RawMonitor monitor, jlong millis);
    jvmdiError (JNICALL* RawMonitorNotify)(JVMDI_RawMonitor monitor);
    jvmdiError (JNICALL* RawMonitorNotifyAll)(JVMDI_RawMonitor monitor);

    jvmdiError (JNICALL* SetBreakpoint)(jclass clazz, jmethodID method, jlocation location);
    jvmdiError (JNICALL* ClearBreakpoint)(jclass clazz, jmethodID method, jlocation location);
    jvmdiError (JNICALL* ClearAllBreakpoints)(void);

    jvmdiError (JNICALL* SetFieldAccessWatch)(jclass clazz, jfieldID field);
    jvmdiError (JNICALL* ClearFieldAccessWatch)(jclass clazz, jfieldID field);
    jvmdiError (JNICALL* SetFieldModificationWatch)(jclass clazz, jfieldID field);
    jvmdiError (JNICALL* ClearFieldModificationWatch)(jclass clazz, jfieldID field);

    jvmdiError (JNICALL* SetAllocationHooks)(JVMDI_AllocHook ahook, JVMDI_DeallocHook dhook);
    jvmdiError (JNICALL* Allocate)(jlong size, jbyte** memPtr);
    jvmdiError (JNICALL* Deallocate)(jbyte* mem);

    jvmdiError (JNICALL* GetClassSignature)(jclass clazz, char** sigPtr);
    jvmdiError (JNICALL* GetClassStatus)(jclass clazz, jint* statusPtr);
    jvmdiError (JNICALL* GetSourceFileName)(jclass clazz, char** sourceNamePtr);
    jvmdiError (JNICALL* GetClassModifiers)(jclass clazz, jint* modifiersPtr);
    jvmdiError (JNICALL* GetClassMethods)(jclass clazz, jint* methodCountPtr,
                                          jmethodID** methodsPtr);
    jvmdiError (JNICALL* GetClassFields)(jclass clazz, jint* fieldCountPtr, jfieldID** fieldsPtr);
    jvmdiError (JNICALL* GetImplementedInterfaces)(jclass clazz, jint* interfaceCountPtr,
                                                   jclass** interfacesPtr);
    jvmdiError (JNICALL* IsInterface)(jclass clazz, jboolean* isInterfacePtr);
    jvmdiError (JNICALL* IsArrayClass)(jclass clazz, jboolean* isArrayClassPtr);
    jvmdiError (JNICALL* GetClassLoader)(jclass clazz, jobject* classloaderPtr);

    jvmdiError (JNICALL* GetObjectHashCode)(jobject object, jint* hashCodePtr);
    jvmdiError (JNICALL* GetMonitorInfo)(jobject object, struct JVMDI_monitor_info* infoPtr);

    jvmdiError (JNICALL* GetFieldName)(jclass clazz, jfieldID field, char** namePtr,
                                       char** signaturePtr);
    jvmdiError (JNICALL* GetFieldDeclaringClass)(jclass clazz, jfieldID field,
                                                 jclass* declaringClassPtr);
    jvmdiError (JNICALL* GetFieldModifiers)(jclass clazz, jfieldID field, jint* modifiersPtr);
    jvmdiError (JNICALL* IsFieldSynthetic)(jclass clazz, jfieldID field, jboolean* isSyntheticPtr);

    jvmdiError (JNICALL* GetMethodName)(jclass clazz, jmethodID method, char** namePtr,
                                        char** signaturePtr);
    jvmdiError (JNICALL* GetMethodDeclaringClass)(jclass clazz, jmethodID method,
                                                  jclass* declaringClassPtr);
    jvmdiError (JNICALL* GetMethodModifiers)(jclass clazz, jmethodID method, jint* modifiersPtr);
    jvmdiError (JNICALL* GetMaxStack)(jclass clazz, jmethodID method, jint* maxPtr);
    jvmdiError (JNICALL* GetMaxLocals)(jclass clazz, jmethodID method, jint* maxPtr);
    jvmdiError (JNICALL* GetArgumentsSize)(jclass clazz, jmethodID method, jint* sizePtr);
    jvmdiError (JNICALL* GetLineNumberTable)(jclass clazz, jmethodID method, jint* entryCountPtr,
                                             struct JVMDI_line_number_entry** tablePtr);
    jvmdiError (JNICALL* GetMethodLocation)(jclass clazz, jmethodID method,
                                            jlocation* startLocationPtr,
                                            jlocation* endLocationPtr);
    jvmdiError (JNICALL* GetLocalVariableTable)(jclass clazz, jmethodID method,
                                                jint* entryCountPtr,
                                                struct JVMDI_local_variable_entry** tablePtr);
    jvmdiError (JNICALL* GetExceptionHandlerTable)(jclass clazz, jmethodID method,
                                                   jint* entryCountPtr,
                                                   struct JVMDI_exception_handler_entry** tablePtr);
    jvmdiError (JNICALL* GetThrownExceptions)(jclass clazz, jmethodID method,
                                              jint* exceptionCountPtr, jclass** exceptionsPtr);
    jvmdiError (JNICALL* GetBytecodes)(jclass clazz, jmethodID method, jint* bytecodeCountPtr,
                                       jbyte** bytecodesPtr);
    jvmdiError (JNICALL* IsMethodNative)(jclass clazz, jmethodID method, jboolean* isNativePtr);
    jvmdiError (JNICALL* IsMethodSynthetic)(jclass clazz, jmethodID method,
                                            jboolean* isSyntheticPtr);

    jvmdiError (JNICALL* GetLoadedClasses)(jint* classCountPtr, jclass** classesPtr);
    jvmdiError (JNICALL* GetClassLoaderClasses)(jobject initiatingLoader, jint* classesCountPtr,
                                                jclass** classesPtr);

    jvmdiError (JNICALL* PopFrame)(jthread thread);
    jvmdiError (JNICALL* SetFrameLocation)(jframeID frame, jlocation location);
    jvmdiError (JNICALL* GetOperandStack)(jframeID frame, jint* operandStackSizePtr,
                                          struct JVMDI_operand_stack_element** operandStackPtr);
    jvmdiError (JNICALL* SetOperandStack)(jframeID frame, jint operandStackSize,
                                          struct JVMDI_operand_stack_element* operandStack);
    jvmdiError (JNICALL* AllInstances)(jclass clazz, jint* instanceCountPtr,
                                       jobject** instancesPtr);
    jvmdiError (JNICALL* References)(jobject obj, struct JVMDI_object_reference_info* refs);
    jvmdiError (JNICALL* GetClassDefinition)(jclass clazz,
                                             struct JVMDI_class_definition* classDefPtr);
    jvmdiError (JNICALL* RedefineClasses)(jint classCount,
                                          struct JVMDI_class_definition* classDefs);

    jvmdiError (JNICALL* GetVersionNumber)(jint* versionPtr);
    jvmdiError (JNICALL* GetCapabilities)(JVMDI_capabilities* capabilitiesPtr);

    /* 1.4.0 and later */
    jvmdiError (JNICALL* GetSourceDebugExtension)(jclass clazz, char** sourceDebugExtension);
    jvmdiError (JNICALL* IsMethodObsolete)(jclass clazz, jmethodID method,
                                           jboolean* isObsoletePtr);

    /* 1.4.2 and later */
    jvmdiError (JNICALL* SuspendThreadList)(jint reqCount, jthread* reqList, jvmdiError* results);
    jvmdiError (JNICALL* ResumeThreadList)(jint reqCount, jthread* reqList, jvmdiError* results);
} JVMDI_Interface_1;

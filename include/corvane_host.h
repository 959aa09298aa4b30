/* corvane_host.h: what a host needs to load the Corvane plug-in library and
 * talk to it, for hosts written in C (C99) or C++ on every target: the
 * packed call records, result codes, role bits, item kinds, window
 * messages, the boundary interfaces of parameter lists as tables of
 * function pointers, the host function the plug-in calls back, and the
 * signatures of the eight entry points (resolve them by name with dlsym or
 * GetProcAddress).
 *
 * On Windows OLE strings and variants and message windows are the system's
 * own (oleaut32, user32): a host uses SysAllocString, VariantClear,
 * CreateWindowEx and the message loop from the Windows headers, and
 * corvane_variant has the layout of VARIANT, so a pointer to one may be
 * passed where the other is expected. On POSIX they live in
 * libcorvane-os.so, which the plug-in library loads too; a host links it
 * (or loads it) and finds the same functions declared at the end of this
 * header, under the Windows names for strings and variants and with the
 * prefix corvane_ for message windows.
 *
 * All records are little-endian. On 32-bit targets every field has its
 * fixed size; on 64-bit targets only the fields that hold an address widen
 * to 8 bytes, so the offsets after such a field move (docs/host-contract.md
 * has both tables). */
#ifndef CORVANE_HOST_H
#define CORVANE_HOST_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The entry points, the host function and every interface method use the
 * stdcall convention on 32-bit x86 (the callee removes the arguments), on
 * Windows and on Linux alike; other targets have one convention only. */
#if defined(__i386__) || defined(_M_IX86)
#if defined(_MSC_VER)
#define CORVANE_STDCALL __stdcall
#else
#define CORVANE_STDCALL __attribute__((stdcall))
#endif
#else
#define CORVANE_STDCALL
#endif

/* A compile-time check that C99 can express: an array of negative size. */
#define CORVANE_STATIC_ASSERT(name, condition) typedef char corvane_static_assert_##name[(condition) ? 1 : -1]

/* ---- Result codes of the entry points ---------------------------------- */

#define CORVANE_RESULT_OK 0
#define CORVANE_RESULT_BAD_CALL (-1)   /* bad record, no instance, missing command or parameter */
#define CORVANE_RESULT_NOT_HANDLED (-2) /* command not known to the module */
#define CORVANE_RESULT_FAILED (-3)     /* a handler raised */
#define CORVANE_RESULT_NO_ENGINE (-4)  /* no script engine, or the script lacks the entry function */

/* ---- Module roles: bits of RoleFlags and of the module type ----------- */

#define CORVANE_ROLE_QUERY 0x01
#define CORVANE_ROLE_PARSER 0x02
#define CORVANE_ROLE_EXPORT 0x04
#define CORVANE_ROLE_STORE 0x08
#define CORVANE_ROLE_FILTER 0x20

/* ---- Window messages the plug-in posts to the host's window ----------- */
/* First parameter: the instance's HostId; second: 0. */

#define CORVANE_MSG_LOG_PENDING 1809     /* log lines wait for GetLogEx */
#define CORVANE_MSG_RELOAD_SETTINGS 1812 /* have the instance reload its settings */

/* ---- Kinds of DataLogger_SendDataEx ----------------------------------- */

#define CORVANE_SEND_EVENT 7      /* data: an IkivParamsListA, valid during the call; count 0 */
#define CORVANE_SEND_BYTES 0x81   /* data: bytes; count: their number */
#define CORVANE_SEND_STRING 0x82  /* data: 8-bit characters, no terminator; count: length */

/* ---- Kinds of corvane_data_item.Type ---------------------------------- */

#define CORVANE_ITEM_NONE 0
#define CORVANE_ITEM_PARAMS_LIST 1        /* address of a list object of the shared layout */
#define CORVANE_ITEM_HOST_BUFFER 2        /* answer: a block written into the host's buffer */
#define CORVANE_ITEM_MEMORY_BLOCK 4       /* address of Size bytes (malloc on POSIX, the process heap on Windows) */
#define CORVANE_ITEM_STATUS 5             /* answer: a status code as a plain value */
#define CORVANE_ITEM_LIBRARY_RELEASE 6    /* with CORVANE_LIBRARY_RELEASE in FreePluginInstance */
#define CORVANE_ITEM_CLIENT_STREAM 7      /* packet data that belongs to a client stream */
#define CORVANE_ITEM_WRAPPED_PARAMS_LIST 8 /* a list object of the shared layout, always wrapped */
#define CORVANE_ITEM_LIST_INTERFACE 9     /* address of a variable holding an IkivParamsListW reference */

#define CORVANE_LIBRARY_RELEASE 0xFF01u
#define CORVANE_CALL_OPTION_PARAMS_IS_INTERFACE 0x40 /* set in CallOptions by the plug-in during a call */
#define CORVANE_LIST_SIGNATURE 0x0FDE2E4Bu           /* of a list object of the shared layout */
#define CORVANE_ROW_DELIMITER_TYPE 0xFF01u           /* DataType of a row delimiter item */
#define CORVANE_ROW_DELIMITER_NAME "$NEW_ROW$"
#define CORVANE_PARSE_TEXT_SEPARATOR "<{[::]}>"      /* between packet bytes and parse text */

/* ---- The packed records ----------------------------------------------- */

#if UINTPTR_MAX > 0xFFFFFFFFu
#define CORVANE_CALL_RECORD_SIZE 118u
#else
#define CORVANE_CALL_RECORD_SIZE 102u
#endif

#pragma pack(push, 1)

typedef struct corvane_data_item {
  uint32_t Count;    /* auxiliary count; in ProcessData's OutputItem the results delivered */
  int32_t Size;      /* size of the data, or capacity of the buffer at Pointer */
  uint8_t Type;      /* CORVANE_ITEM_... */
  uintptr_t Pointer; /* address or plain value, per Type */
} corvane_data_item;

typedef struct corvane_call_record {
  uint32_t RecordSize;      /* CORVANE_CALL_RECORD_SIZE */
  uint8_t CallOptions;
  uintptr_t InstanceHandle; /* 0 before CreatePluginInstance, then written by the plug-in */
  uint32_t HostId;          /* given back in host calls and window messages */
  int32_t DataSourceId;
  uint32_t ClientId;        /* key of the per-client state of a parser */
  uint8_t RoleFlags;        /* CORVANE_ROLE_... the call is made for */
  uintptr_t Params;         /* address of a variable holding an IkivParamsListA reference */
  corvane_data_item InputItem;
  corvane_data_item OutputItem;
  char ClientName[50];      /* zero-terminated */
} corvane_call_record;

/* The header of GetModuleInfo's answer; the two UTF-8 texts (not
 * zero-terminated) follow it inside the host's buffer. */
typedef struct corvane_module_info {
  uint32_t BufferSize;       /* set by the host */
  uint32_t Flags;            /* bits 0..7 roles, 16..18 module options */
  uint32_t InterfaceVersion; /* low 16 bits 4 */
  float ModuleVersion;
  uint8_t InfoFlag;
  uint32_t DescriptionLength;
  uintptr_t DescriptionAddress;
  uint32_t CommandsLength;
  uintptr_t CommandsAddress;
} corvane_module_info;

#pragma pack(pop)

/* The header of GetOptionsDialog's answer; form, extra text and code follow. */
typedef struct corvane_options_dialog_block {
  uint32_t FormOffset;
  uint32_t FormLength;
  uint32_t ExtraOffset;
  uint32_t ExtraLength;
  uint32_t CodeOffset;
  uint32_t CodeLength;
} corvane_options_dialog_block;

CORVANE_STATIC_ASSERT(call_record_size, sizeof(corvane_call_record) == CORVANE_CALL_RECORD_SIZE);
CORVANE_STATIC_ASSERT(data_item_pointer, offsetof(corvane_data_item, Pointer) == 9);
CORVANE_STATIC_ASSERT(record_instance, offsetof(corvane_call_record, InstanceHandle) == 5);
CORVANE_STATIC_ASSERT(options_block_size, sizeof(corvane_options_dialog_block) == 24);
#if UINTPTR_MAX > 0xFFFFFFFFu
CORVANE_STATIC_ASSERT(data_item_size, sizeof(corvane_data_item) == 17);
CORVANE_STATIC_ASSERT(record_params, offsetof(corvane_call_record, Params) == 26);
CORVANE_STATIC_ASSERT(record_input, offsetof(corvane_call_record, InputItem) == 34);
CORVANE_STATIC_ASSERT(record_output, offsetof(corvane_call_record, OutputItem) == 51);
CORVANE_STATIC_ASSERT(record_client_name, offsetof(corvane_call_record, ClientName) == 68);
CORVANE_STATIC_ASSERT(module_info_size, sizeof(corvane_module_info) == 41);
#else
CORVANE_STATIC_ASSERT(data_item_size, sizeof(corvane_data_item) == 13);
CORVANE_STATIC_ASSERT(record_params, offsetof(corvane_call_record, Params) == 22);
CORVANE_STATIC_ASSERT(record_input, offsetof(corvane_call_record, InputItem) == 26);
CORVANE_STATIC_ASSERT(record_output, offsetof(corvane_call_record, OutputItem) == 39);
CORVANE_STATIC_ASSERT(record_client_name, offsetof(corvane_call_record, ClientName) == 52);
CORVANE_STATIC_ASSERT(module_info_size, sizeof(corvane_module_info) == 33);
#endif

/* ---- OLE strings and variants ----------------------------------------- */

/* One UTF-16 code unit. On Windows the system's OLECHAR (wchar_t); elsewhere
 * wchar_t is 32-bit, so C gets a 16-bit integer and C++ char16_t (u"..."). */
#if defined(_WIN32)
typedef wchar_t corvane_olechar;
#elif defined(__cplusplus) && __cplusplus >= 201103L
typedef char16_t corvane_olechar;
#else
typedef uint16_t corvane_olechar;
#endif
/* Points at the first code unit; the 32-bit byte length sits just before
 * it. Made and freed only with the Sys... functions. NULL is the empty text. */
typedef corvane_olechar* corvane_bstr;
typedef int32_t corvane_hresult;

#define CORVANE_S_OK 0
#define CORVANE_E_NOTIMPL ((corvane_hresult)0x80004001u)
#define CORVANE_E_NOINTERFACE ((corvane_hresult)0x80004002u)
#define CORVANE_E_POINTER ((corvane_hresult)0x80004003u)
#define CORVANE_E_UNEXPECTED ((corvane_hresult)0x8000FFFFu)
#define CORVANE_E_OUTOFMEMORY ((corvane_hresult)0x8007000Eu)

/* Variant types (the OLE numbering). CORVANE_VT_ANSI_STRING is accepted by
 * the A interfaces with a payload pointing at zero-terminated 8-bit text. */
#define CORVANE_VT_EMPTY 0
#define CORVANE_VT_NULL 1
#define CORVANE_VT_I2 2
#define CORVANE_VT_I4 3
#define CORVANE_VT_R4 4
#define CORVANE_VT_R8 5
#define CORVANE_VT_CY 6
#define CORVANE_VT_DATE 7
#define CORVANE_VT_BSTR 8
#define CORVANE_VT_ERROR 10
#define CORVANE_VT_BOOL 11
#define CORVANE_VT_VARIANT 12
#define CORVANE_VT_I1 16
#define CORVANE_VT_UI1 17
#define CORVANE_VT_UI2 18
#define CORVANE_VT_UI4 19
#define CORVANE_VT_I8 20
#define CORVANE_VT_UI8 21
#define CORVANE_VT_ANSI_STRING 0x100
#define CORVANE_VT_UNICODE_STRING 0x102
#define CORVANE_VT_ARRAY 0x2000
#define CORVANE_VT_BYREF 0x4000

/* The VARIANT: 16 bytes on 32-bit targets, 24 on 64-bit ones. C99 has no
 * anonymous unions, so the payload is the member u. */
typedef struct corvane_variant {
  uint16_t vt;
  uint16_t reserved1;
  uint16_t reserved2;
  uint16_t reserved3;
  union {
    int64_t llVal;
    uint64_t ullVal;
    int32_t lVal;
    uint32_t ulVal;
    int16_t iVal;
    uint16_t uiVal;
    int8_t cVal;
    uint8_t bVal;
    float fltVal;
    double dblVal;
    int16_t boolVal; /* -1 true, 0 false */
    int32_t scode;
    int64_t cyVal;   /* currency: the value times 10000 */
    double date;     /* days since 1899-12-30, the fraction the time of day */
    corvane_bstr bstrVal;
    void* parray;
    void* byref;
    void* punkVal;
    struct {
      void* pvRecord;
      void* pRecInfo;
    } record;
  } u;
} corvane_variant;

CORVANE_STATIC_ASSERT(variant_payload, offsetof(corvane_variant, u) == 8);
CORVANE_STATIC_ASSERT(variant_size, sizeof(corvane_variant) == (UINTPTR_MAX > 0xFFFFFFFFu ? 24 : 16));

/* ---- Parameter-list boundary interfaces ------------------------------- */
/* COM-style objects: the object's first word points at its table of
 * function pointers; every method takes the object as its first argument.
 * Slots 0 to 2 are QueryInterface, AddRef and Release (which answer the new
 * count). Texts are zero-terminated, 8-bit in the A interfaces and UTF-16
 * in the W interfaces; a NULL text is the empty text. Methods returning
 * corvane_hresult answer CORVANE_S_OK or CORVANE_E_UNEXPECTED; their last
 * parameter receives the result: interface and VARIANT results are zeroed
 * first, integer and boolean ones are written only on success. A VARIANT
 * received is a copy the receiver clears with VariantClear; an interface
 * received carries one reference the receiver releases. Booleans are single
 * bytes. */

typedef struct corvane_guid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} corvane_guid;

#define CORVANE_IID_IKIVPARAMSLISTA {0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB1}}
#define CORVANE_IID_IKIVPARAMSLISTW {0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB2}}
#define CORVANE_IID_IKIVPARAMSLISTITEMA {0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB4}}
#define CORVANE_IID_IKIVPARAMSLISTITEMW {0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB6}}

typedef struct corvane_IkivParamsListItemA {
  const struct corvane_IkivParamsListItemAVtbl* lpVtbl;
} corvane_IkivParamsListItemA;

typedef struct corvane_IkivParamsListItemW {
  const struct corvane_IkivParamsListItemWVtbl* lpVtbl;
} corvane_IkivParamsListItemW;

typedef struct corvane_IkivParamsListA {
  const struct corvane_IkivParamsListAVtbl* lpVtbl;
} corvane_IkivParamsListA;

typedef struct corvane_IkivParamsListW {
  const struct corvane_IkivParamsListWVtbl* lpVtbl;
} corvane_IkivParamsListW;

typedef struct corvane_IkivParamsListItemAVtbl {
  corvane_hresult(CORVANE_STDCALL* QueryInterface)(corvane_IkivParamsListItemA* self, const corvane_guid* iid,
                                                   void** object);                                  /* 0 */
  uint32_t(CORVANE_STDCALL* AddRef)(corvane_IkivParamsListItemA* self);                             /* 1 */
  uint32_t(CORVANE_STDCALL* Release)(corvane_IkivParamsListItemA* self);                            /* 2 */
  /* Replaces the lower-case name text slot 6 hands out; the item keeps its own. */
  void(CORVANE_STDCALL* SetLowerNameText)(corvane_IkivParamsListItemA* self, const char* text);     /* 3 */
  void(CORVANE_STDCALL* SetDataType)(corvane_IkivParamsListItemA* self, uint32_t dataType);         /* 4 */
  void(CORVANE_STDCALL* SetQuality)(corvane_IkivParamsListItemA* self, uint32_t quality);           /* 5, low 8 bits */
  const char*(CORVANE_STDCALL* GetLowerNameText)(corvane_IkivParamsListItemA* self);                /* 6, UTF-8 */
  uint32_t(CORVANE_STDCALL* GetDataType)(corvane_IkivParamsListItemA* self);                        /* 7 */
  uint8_t(CORVANE_STDCALL* GetQuality)(corvane_IkivParamsListItemA* self);                          /* 8 */
  corvane_hresult(CORVANE_STDCALL* SetValue)(corvane_IkivParamsListItemA* self,
                                             const corvane_variant* value);                         /* 9 */
  corvane_hresult(CORVANE_STDCALL* GetValue)(corvane_IkivParamsListItemA* self, corvane_variant* value); /* 10 */
  void(CORVANE_STDCALL* SetName)(corvane_IkivParamsListItemA* self, const char* name);              /* 11 */
  const char*(CORVANE_STDCALL* GetName)(corvane_IkivParamsListItemA* self);                         /* 12 */
  uint8_t(CORVANE_STDCALL* IsRowDelimiter)(corvane_IkivParamsListItemA* self);                      /* 13 */
} corvane_IkivParamsListItemAVtbl;

/* Derived from IkivParamsListItemA: slots 0 to 13 as there. */
typedef struct corvane_IkivParamsListItemWVtbl {
  corvane_hresult(CORVANE_STDCALL* QueryInterface)(corvane_IkivParamsListItemW* self, const corvane_guid* iid,
                                                   void** object);
  uint32_t(CORVANE_STDCALL* AddRef)(corvane_IkivParamsListItemW* self);
  uint32_t(CORVANE_STDCALL* Release)(corvane_IkivParamsListItemW* self);
  void(CORVANE_STDCALL* SetLowerNameText)(corvane_IkivParamsListItemW* self, const char* text);
  void(CORVANE_STDCALL* SetDataType)(corvane_IkivParamsListItemW* self, uint32_t dataType);
  void(CORVANE_STDCALL* SetQuality)(corvane_IkivParamsListItemW* self, uint32_t quality);
  const char*(CORVANE_STDCALL* GetLowerNameText)(corvane_IkivParamsListItemW* self);
  uint32_t(CORVANE_STDCALL* GetDataType)(corvane_IkivParamsListItemW* self);
  uint8_t(CORVANE_STDCALL* GetQuality)(corvane_IkivParamsListItemW* self);
  corvane_hresult(CORVANE_STDCALL* SetValue)(corvane_IkivParamsListItemW* self, const corvane_variant* value);
  corvane_hresult(CORVANE_STDCALL* GetValue)(corvane_IkivParamsListItemW* self, corvane_variant* value);
  void(CORVANE_STDCALL* SetName)(corvane_IkivParamsListItemW* self, const char* name);
  const char*(CORVANE_STDCALL* GetName)(corvane_IkivParamsListItemW* self);
  uint8_t(CORVANE_STDCALL* IsRowDelimiter)(corvane_IkivParamsListItemW* self);
  void(CORVANE_STDCALL* SetNameW)(corvane_IkivParamsListItemW* self, const corvane_olechar* name);  /* 14 */
  const corvane_olechar*(CORVANE_STDCALL* GetNameW)(corvane_IkivParamsListItemW* self);             /* 15 */
  corvane_hresult(CORVANE_STDCALL* SetValueW)(corvane_IkivParamsListItemW* self,
                                              const corvane_variant* value);                        /* 16 */
  corvane_hresult(CORVANE_STDCALL* GetValueW)(corvane_IkivParamsListItemW* self, corvane_variant* value); /* 17 */
} corvane_IkivParamsListItemWVtbl;

/* Slots 0 to 11, shared by both list interfaces, for the list type L. */
#define CORVANE_PARAMS_LIST_COMMON_SLOTS(L)                                                  \
  corvane_hresult(CORVANE_STDCALL* QueryInterface)(L * self, const corvane_guid* iid, void** object); \
  uint32_t(CORVANE_STDCALL* AddRef)(L * self);                                                \
  uint32_t(CORVANE_STDCALL* Release)(L * self);                                               \
  int32_t(CORVANE_STDCALL* GetCount)(L * self);                                     /* 3 */   \
  uint32_t(CORVANE_STDCALL* GetSignature)(L * self);                                /* 4 */   \
  int32_t(CORVANE_STDCALL* GetTag)(L * self);                                       /* 5 */   \
  void(CORVANE_STDCALL* SetTag)(L * self, int32_t tag);                             /* 6 */   \
  void(CORVANE_STDCALL* Clear)(L * self);                                           /* 7 */   \
  void(CORVANE_STDCALL* Delete)(L * self, int32_t index);                           /* 8, index >= 0 */ \
  uint8_t(CORVANE_STDCALL* FindRow)(L * self, int32_t start, int32_t* index, uint8_t* isDelimiter); /* 9 */ \
  void(CORVANE_STDCALL* NewRow)(L * self);                                          /* 10 */  \
  void(CORVANE_STDCALL* AppendRow)(L * self, const void* wrapperObject);            /* 11 */

/* In both list interfaces start and end bound a search (end < 0: to the
 * last item); CopyFrom and CopyRangeFrom take list objects of the shared
 * layout (A) or list wrapper objects (W), which hosts written in C do not
 * have. */
typedef struct corvane_IkivParamsListAVtbl {
  CORVANE_PARAMS_LIST_COMMON_SLOTS(corvane_IkivParamsListA)
  corvane_hresult(CORVANE_STDCALL* GetItem)(corvane_IkivParamsListA* self, int32_t index,
                                            corvane_IkivParamsListItemA** item);            /* 12 */
  corvane_hresult(CORVANE_STDCALL* CopyFrom)(corvane_IkivParamsListA* self, const void* source,
                                             uint8_t* copied);                              /* 13 */
  corvane_hresult(CORVANE_STDCALL* CopyRangeFrom)(corvane_IkivParamsListA* self, const void* source, int32_t start,
                                                  int32_t end, uint8_t* copied);            /* 14 */
  corvane_hresult(CORVANE_STDCALL* ItemByName)(corvane_IkivParamsListA* self, const char* name, int32_t start,
                                               int32_t end, corvane_IkivParamsListItemA** item); /* 15 */
  corvane_hresult(CORVANE_STDCALL* ItemIndexByName)(corvane_IkivParamsListA* self, const char* name, int32_t start,
                                                    int32_t end, int32_t* index);           /* 16 */
  corvane_hresult(CORVANE_STDCALL* ItemValueByName)(corvane_IkivParamsListA* self, const char* name, int32_t start,
                                                    int32_t end, corvane_variant* value);   /* 17 */
  corvane_hresult(CORVANE_STDCALL* ItemValueByNameDef)(corvane_IkivParamsListA* self, const char* name,
                                                       const corvane_variant* defaultValue, int32_t start,
                                                       int32_t end, corvane_variant* value); /* 18 */
  corvane_hresult(CORVANE_STDCALL* AddItem)(corvane_IkivParamsListA* self, const char* name,
                                            const corvane_variant* value,
                                            corvane_IkivParamsListItemA** item);            /* 19 */
  corvane_hresult(CORVANE_STDCALL* InsertItem)(corvane_IkivParamsListA* self, int32_t index, const char* name,
                                               const corvane_variant* value,
                                               corvane_IkivParamsListItemA** item);         /* 20 */
  corvane_hresult(CORVANE_STDCALL* SetItem)(corvane_IkivParamsListA* self, const char* name,
                                            const corvane_variant* value, uint8_t create,
                                            corvane_IkivParamsListItemA** item);            /* 21 */
  corvane_hresult(CORVANE_STDCALL* AddItemCopy)(corvane_IkivParamsListA* self, corvane_IkivParamsListItemA* source,
                                                corvane_IkivParamsListItemA** item);        /* 22 */
} corvane_IkivParamsListAVtbl;

typedef struct corvane_IkivParamsListWVtbl {
  CORVANE_PARAMS_LIST_COMMON_SLOTS(corvane_IkivParamsListW)
  corvane_hresult(CORVANE_STDCALL* GetItem)(corvane_IkivParamsListW* self, int32_t index,
                                            corvane_IkivParamsListItemW** item);
  corvane_hresult(CORVANE_STDCALL* CopyFrom)(corvane_IkivParamsListW* self, const void* wrapperObject,
                                             uint8_t* copied);
  corvane_hresult(CORVANE_STDCALL* CopyRangeFrom)(corvane_IkivParamsListW* self, const void* wrapperObject,
                                                  int32_t start, int32_t end, uint8_t* copied);
  corvane_hresult(CORVANE_STDCALL* ItemByName)(corvane_IkivParamsListW* self, const corvane_olechar* name,
                                               int32_t start, int32_t end, corvane_IkivParamsListItemW** item);
  corvane_hresult(CORVANE_STDCALL* ItemIndexByName)(corvane_IkivParamsListW* self, const corvane_olechar* name,
                                                    int32_t start, int32_t end, int32_t* index);
  corvane_hresult(CORVANE_STDCALL* ItemValueByName)(corvane_IkivParamsListW* self, const corvane_olechar* name,
                                                    int32_t start, int32_t end, corvane_variant* value);
  corvane_hresult(CORVANE_STDCALL* ItemValueByNameDef)(corvane_IkivParamsListW* self, const corvane_olechar* name,
                                                       const corvane_variant* defaultValue, int32_t start,
                                                       int32_t end, corvane_variant* value);
  corvane_hresult(CORVANE_STDCALL* AddItem)(corvane_IkivParamsListW* self, const corvane_olechar* name,
                                            const corvane_variant* value, corvane_IkivParamsListItemW** item);
  corvane_hresult(CORVANE_STDCALL* InsertItem)(corvane_IkivParamsListW* self, int32_t index,
                                               const corvane_olechar* name, const corvane_variant* value,
                                               corvane_IkivParamsListItemW** item);
  corvane_hresult(CORVANE_STDCALL* SetItem)(corvane_IkivParamsListW* self, const corvane_olechar* name,
                                            const corvane_variant* value, uint8_t create,
                                            corvane_IkivParamsListItemW** item);
  corvane_hresult(CORVANE_STDCALL* AddItemCopy)(corvane_IkivParamsListW* self, corvane_IkivParamsListItemW* source,
                                                corvane_IkivParamsListItemW** item);
} corvane_IkivParamsListWVtbl;

/* ---- The host function the plug-in calls ------------------------------ */

/* Exported by the host under the plain name "DataLogger_SendDataEx" from
 * the module passed as the LOAD value "HANDLE" (on POSIX: link the
 * executable with -rdynamic and pass dlopen(NULL, ...)). Arguments: the
 * instance's HostId (0 when data is addressed to a data source), data
 * source id, client id, 0, kind (CORVANE_SEND_...), pointer, count; the
 * result goes back to the sender unchanged. */
typedef int32_t(CORVANE_STDCALL* corvane_SendDataEx_fn)(uint32_t hostId, int32_t dataSourceId, uint32_t clientId,
                                                        int32_t reserved, int32_t kind, void* data, int32_t count);

/* ---- The entry points of the plug-in library (resolve them by name) ---- */

typedef int32_t(CORVANE_STDCALL* corvane_CreatePluginInstance_fn)(corvane_call_record* record);
typedef int32_t(CORVANE_STDCALL* corvane_FreePluginInstance_fn)(corvane_call_record* record);
/* size: receives the needed size; the buffer's first word is its capacity. Answers 1 when written. */
typedef uint8_t(CORVANE_STDCALL* corvane_GetModuleInfo_fn)(corvane_call_record* record, void* buffer,
                                                           uint32_t* size);
/* Copies pending log lines into InputItem's buffer; answers the bytes copied. */
typedef int32_t(CORVANE_STDCALL* corvane_GetLogEx_fn)(corvane_call_record* record);
typedef void(CORVANE_STDCALL* corvane_GetOptionsDialog_fn)(corvane_call_record* record);
typedef void(CORVANE_STDCALL* corvane_ShowOptionsDialog_fn)(corvane_call_record* record);
typedef int32_t(CORVANE_STDCALL* corvane_ExecutePluginCommand_fn)(corvane_call_record* record);
typedef int32_t(CORVANE_STDCALL* corvane_ProcessData_fn)(corvane_call_record* record);

/* ---- libcorvane-os.so: OLE strings, variants and message windows ------- */

#if !defined(_WIN32)

#if defined(__GNUC__)
#define CORVANE_OS_API __attribute__((visibility("default")))
#else
#define CORVANE_OS_API
#endif

/* As on Windows: lengths in code units (Len) or bytes (ByteLen); a NULL
 * text gives a zero-filled string; NULL when memory runs out. */
CORVANE_OS_API corvane_bstr CORVANE_STDCALL SysAllocString(const corvane_olechar* text);
CORVANE_OS_API corvane_bstr CORVANE_STDCALL SysAllocStringLen(const corvane_olechar* text, uint32_t length);
CORVANE_OS_API corvane_bstr CORVANE_STDCALL SysAllocStringByteLen(const char* bytes, uint32_t byteLength);
CORVANE_OS_API void CORVANE_STDCALL SysFreeString(corvane_bstr text);
CORVANE_OS_API uint32_t CORVANE_STDCALL SysStringLen(corvane_bstr text);
CORVANE_OS_API uint32_t CORVANE_STDCALL SysStringByteLen(corvane_bstr text);

CORVANE_OS_API void CORVANE_STDCALL VariantInit(corvane_variant* value);
CORVANE_OS_API corvane_hresult CORVANE_STDCALL VariantClear(corvane_variant* value);
CORVANE_OS_API corvane_hresult CORVANE_STDCALL VariantCopy(corvane_variant* target, const corvane_variant* source);
/* target may equal source; on failure the target is left as it was. */
CORVANE_OS_API corvane_hresult CORVANE_STDCALL VariantChangeType(corvane_variant* target,
                                                                 const corvane_variant* source, uint16_t flags,
                                                                 uint16_t type);

/* Message-only windows with per-thread queues, as on Windows: a window
 * belongs to the thread that created it and its procedure runs only when
 * that thread gets and dispatches its messages. The procedure uses the
 * platform's ordinary C calling convention. */
typedef struct corvane_window_object* corvane_window;
typedef intptr_t (*corvane_window_procedure)(corvane_window window, uint32_t message, uintptr_t wParam,
                                             intptr_t lParam);
typedef struct corvane_window_message {
  corvane_window window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
} corvane_window_message;

/* NULL when the window cannot be made. Pass (intptr_t)window as the LOAD
 * value "MSG-PROC-HANDLE". */
CORVANE_OS_API corvane_window CORVANE_STDCALL corvane_CreateMessageWindow(corvane_window_procedure procedure,
                                                                          void* userData);
/* Only the owner thread may destroy a window; nonzero on success. */
CORVANE_OS_API int32_t CORVANE_STDCALL corvane_DestroyWindow(corvane_window window);
CORVANE_OS_API void* CORVANE_STDCALL corvane_GetWindowUserData(corvane_window window);
/* Waits for a message of the calling thread's queue; 0 for the quit message. */
CORVANE_OS_API int32_t CORVANE_STDCALL corvane_GetMessage(corvane_window_message* message);
/* Nonzero when a message was ready; remove nonzero takes it off the queue. */
CORVANE_OS_API int32_t CORVANE_STDCALL corvane_PeekMessage(corvane_window_message* message, int32_t remove);
/* Runs the procedure of message->window; 0 when the window is gone. */
CORVANE_OS_API intptr_t CORVANE_STDCALL corvane_DispatchMessage(const corvane_window_message* message);
/* Queues a message for the window's owner thread; nonzero on success. */
CORVANE_OS_API int32_t CORVANE_STDCALL corvane_PostMessage(corvane_window window, uint32_t message, uintptr_t wParam,
                                                           intptr_t lParam);

#endif /* !_WIN32 */

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_HOST_H */

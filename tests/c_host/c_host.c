/* A host written in C that drives the product library as a POSIX host
 * application would, using nothing but corvane_host.h, the C library and
 * the dynamic loader: it loads corvane.so, creates an instance, points it
 * at a small parse script, sends LOAD with its own executable as the host
 * module and its message window as the notification window, feeds packets
 * that cut lines in arbitrary places through ProcessData, checks the
 * delivered values, the bytes sent back and the log, and frees the
 * instance. Parameter lists cross as interface references to a list
 * implemented here in C.
 *
 * Usage: c_host PRODUCT_LIBRARY PYTHON_RUNTIME SCRATCH_FOLDER
 * Exit code: 0 when everything matched, 1 on a mismatch, 77 when the
 * runtime is not installed (the test is then skipped). */
#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "corvane_host.h"

static int failures = 0;

static void fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  fputs("c_host: ", stderr);
  vfprintf(stderr, format, args);
  fputc('\n', stderr);
  va_end(args);
  ++failures;
}

#define EXPECT(condition, ...) \
  do {                         \
    if (!(condition)) fail(__VA_ARGS__); \
  } while (0)

/* ---- Texts ------------------------------------------------------------ */
/* The test's texts are ASCII, so widening and narrowing byte by byte is
 * exact; other characters narrow to '?'. */

static char* copy_text(const char* text) {
  size_t length = text ? strlen(text) : 0;
  char* copy = malloc(length + 1);
  if (copy == NULL) abort();
  if (length) memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

static size_t wide_length(const corvane_olechar* text) {
  size_t length = 0;
  if (text)
    while (text[length] != 0) ++length;
  return length;
}

static char* narrow_text(const corvane_olechar* text) {
  size_t length = wide_length(text), i;
  char* narrow = malloc(length + 1);
  if (narrow == NULL) abort();
  for (i = 0; i < length; ++i) narrow[i] = text[i] < 0x80 ? (char)text[i] : '?';
  narrow[length] = '\0';
  return narrow;
}

static corvane_olechar* widen_text(const char* text) {
  size_t length = text ? strlen(text) : 0, i;
  corvane_olechar* wide = malloc((length + 1) * sizeof *wide);
  if (wide == NULL) abort();
  for (i = 0; i < length; ++i) wide[i] = (corvane_olechar)(unsigned char)text[i];
  wide[length] = 0;
  return wide;
}

static corvane_variant string_value(const char* text) {
  corvane_variant value;
  corvane_olechar* wide = widen_text(text);
  VariantInit(&value);
  value.vt = CORVANE_VT_BSTR;
  value.u.bstrVal = SysAllocString(wide);
  free(wide);
  return value;
}

static corvane_variant integer_value(int64_t number) {
  corvane_variant value;
  VariantInit(&value);
  value.vt = CORVANE_VT_I8;
  value.u.llVal = number;
  return value;
}

/* The value as text (VariantChangeType to a string); "<vt N>" when it has none. */
static char* value_text(const corvane_variant* value) {
  corvane_variant text;
  char* narrow;
  VariantInit(&text);
  if (VariantChangeType(&text, value, 0, CORVANE_VT_BSTR) != CORVANE_S_OK) {
    char buffer[32];
    snprintf(buffer, sizeof buffer, "<vt %u>", (unsigned)value->vt);
    return copy_text(buffer);
  }
  narrow = narrow_text(text.u.bstrVal);
  VariantClear(&text);
  return narrow;
}

static int same_name(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = (*a >= 'A' && *a <= 'Z') ? (char)(*a - 'A' + 'a') : *a;
    char y = (*b >= 'A' && *b <= 'Z') ? (char)(*b - 'A' + 'a') : *b;
    if (x != y) return 0;
    if (x == '\0') return 1;
  }
}

/* ---- A parameter list with both boundary interfaces ------------------ */

typedef struct host_item {
  char* name;
  corvane_olechar* wide_name;
  char* lower_name;
  uint32_t data_type;
  uint8_t quality;
  corvane_variant value;
} host_item;

typedef struct host_list {
  corvane_IkivParamsListW w; /* first: the W table, then the A table */
  corvane_IkivParamsListA a;
  int32_t references;
  int32_t tag;
  int32_t count;
  int32_t capacity;
  host_item** items;
} host_list;

/* One reference to an item handed out; the list owns the item. */
typedef struct item_ref {
  corvane_IkivParamsListItemW w; /* serves both item interfaces */
  int32_t references;
  host_item* item;
} item_ref;

static host_list* list_of_a(corvane_IkivParamsListA* self) {
  return (host_list*)(void*)((char*)self - offsetof(host_list, a));
}
static host_list* list_of_w(corvane_IkivParamsListW* self) { return (host_list*)(void*)self; }
static host_item* item_of(corvane_IkivParamsListItemW* self) { return ((item_ref*)(void*)self)->item; }

static int same_guid(const corvane_guid* a, const corvane_guid* b) { return memcmp(a, b, sizeof *a) == 0; }

/* A new name also renews the lower-case name text, which the plug-in uses
 * to find copied items by name. */
static void set_item_name(host_item* item, const char* name) {
  char* lower;
  free(item->name);
  free(item->wide_name);
  free(item->lower_name);
  item->name = copy_text(name);
  item->wide_name = widen_text(item->name);
  item->lower_name = lower = copy_text(name);
  for (; *lower; ++lower)
    if (*lower >= 'A' && *lower <= 'Z') *lower = (char)(*lower - 'A' + 'a');
}

static void free_item(host_item* item) {
  free(item->name);
  free(item->wide_name);
  free(item->lower_name);
  VariantClear(&item->value);
  free(item);
}

/* Stores value after the input conversion: 8-bit text (A only) or UTF-16
 * text behind a pointer becomes an OLE string; the rest is copied. */
static corvane_hresult store_value(host_item* item, const corvane_variant* value, int wide_input) {
  corvane_variant stored;
  VariantInit(&stored);
  if (value != NULL && value->u.byref != NULL &&
      (value->vt == CORVANE_VT_UNICODE_STRING || (value->vt == CORVANE_VT_ANSI_STRING && wide_input))) {
    stored.vt = CORVANE_VT_BSTR;
    stored.u.bstrVal = SysAllocString((const corvane_olechar*)value->u.byref);
  } else if (value != NULL && value->vt == CORVANE_VT_ANSI_STRING && value->u.byref != NULL) {
    stored = string_value((const char*)value->u.byref);
  } else if (value != NULL && VariantCopy(&stored, value) != CORVANE_S_OK) {
    return CORVANE_E_UNEXPECTED;
  }
  VariantClear(&item->value);
  item->value = stored;
  return CORVANE_S_OK;
}

static const corvane_IkivParamsListItemWVtbl item_table;

static void* new_item_ref(host_item* item) {
  item_ref* ref;
  if (item == NULL) return NULL;
  ref = malloc(sizeof *ref);
  if (ref == NULL) abort();
  ref->w.lpVtbl = &item_table;
  ref->references = 1;
  ref->item = item;
  return ref;
}

static int32_t find_item(const host_list* list, const char* name, int32_t start, int32_t end) {
  int32_t i, last = (end < 0 || end >= list->count) ? list->count - 1 : end;
  for (i = start < 0 ? 0 : start; i <= last; ++i)
    if (same_name(list->items[i]->name, name ? name : "")) return i;
  return -1;
}

static host_item* insert_item(host_list* list, int32_t index, const char* name, const corvane_variant* value,
                              int wide_input) {
  host_item* item;
  if (name == NULL || name[0] == '\0') return NULL; /* blank names are not added */
  if (index < 0 || index > list->count) index = list->count;
  item = calloc(1, sizeof *item);
  if (item == NULL) abort();
  set_item_name(item, name);
  VariantInit(&item->value);
  if (store_value(item, value, wide_input) != CORVANE_S_OK) {
    free_item(item);
    return NULL;
  }
  if (list->count == list->capacity) {
    list->capacity = list->capacity ? 2 * list->capacity : 8;
    list->items = realloc(list->items, (size_t)list->capacity * sizeof *list->items);
    if (list->items == NULL) abort();
  }
  memmove(list->items + index + 1, list->items + index, (size_t)(list->count - index) * sizeof *list->items);
  list->items[index] = item;
  ++list->count;
  return item;
}

static void delete_item(host_list* list, int32_t index) {
  if (index < 0 || index >= list->count) return;
  free_item(list->items[index]);
  memmove(list->items + index, list->items + index + 1, (size_t)(list->count - index - 1) * sizeof *list->items);
  --list->count;
}

static void clear_list(host_list* list) {
  while (list->count > 0) delete_item(list, list->count - 1);
}

/* Item interface. */

static corvane_hresult CORVANE_STDCALL item_query(corvane_IkivParamsListItemW* self, const corvane_guid* iid,
                                                  void** object) {
  static const corvane_guid a = CORVANE_IID_IKIVPARAMSLISTITEMA, w = CORVANE_IID_IKIVPARAMSLISTITEMW;
  if (object == NULL) return CORVANE_E_POINTER;
  *object = NULL;
  if (!same_guid(iid, &a) && !same_guid(iid, &w)) return CORVANE_E_NOINTERFACE;
  ++((item_ref*)(void*)self)->references;
  *object = self;
  return CORVANE_S_OK;
}
static uint32_t CORVANE_STDCALL item_add_ref(corvane_IkivParamsListItemW* self) {
  return (uint32_t)++((item_ref*)(void*)self)->references;
}
static uint32_t CORVANE_STDCALL item_release(corvane_IkivParamsListItemW* self) {
  item_ref* ref = (item_ref*)(void*)self;
  int32_t left = --ref->references;
  if (left == 0) free(ref);
  return (uint32_t)left;
}
static void CORVANE_STDCALL item_set_lower_name_text(corvane_IkivParamsListItemW* self, const char* text) {
  host_item* item = item_of(self);
  free(item->lower_name);
  item->lower_name = text && text[0] ? copy_text(text) : NULL;
}
static void CORVANE_STDCALL item_set_data_type(corvane_IkivParamsListItemW* self, uint32_t type) {
  item_of(self)->data_type = type;
}
static void CORVANE_STDCALL item_set_quality(corvane_IkivParamsListItemW* self, uint32_t quality) {
  item_of(self)->quality = (uint8_t)quality;
}
static const char* CORVANE_STDCALL item_get_lower_name_text(corvane_IkivParamsListItemW* self) {
  const char* lower = item_of(self)->lower_name;
  return lower && lower[0] ? lower : NULL;
}
static uint32_t CORVANE_STDCALL item_get_data_type(corvane_IkivParamsListItemW* self) {
  return item_of(self)->data_type;
}
static uint8_t CORVANE_STDCALL item_get_quality(corvane_IkivParamsListItemW* self) { return item_of(self)->quality; }
static corvane_hresult CORVANE_STDCALL item_set_value(corvane_IkivParamsListItemW* self, const corvane_variant* value) {
  return store_value(item_of(self), value, 0);
}
static corvane_hresult CORVANE_STDCALL item_get_value(corvane_IkivParamsListItemW* self, corvane_variant* value) {
  if (value == NULL) return CORVANE_E_UNEXPECTED;
  VariantInit(value);
  return VariantCopy(value, &item_of(self)->value) == CORVANE_S_OK ? CORVANE_S_OK : CORVANE_E_UNEXPECTED;
}
static void CORVANE_STDCALL item_set_name(corvane_IkivParamsListItemW* self, const char* name) {
  set_item_name(item_of(self), name);
}
static const char* CORVANE_STDCALL item_get_name(corvane_IkivParamsListItemW* self) {
  const char* name = item_of(self)->name;
  return name[0] ? name : NULL;
}
static uint8_t CORVANE_STDCALL item_is_row_delimiter(corvane_IkivParamsListItemW* self) {
  return item_of(self)->data_type == CORVANE_ROW_DELIMITER_TYPE;
}
static void CORVANE_STDCALL item_set_name_w(corvane_IkivParamsListItemW* self, const corvane_olechar* name) {
  char* narrow = narrow_text(name);
  set_item_name(item_of(self), narrow);
  free(narrow);
}
static const corvane_olechar* CORVANE_STDCALL item_get_name_w(corvane_IkivParamsListItemW* self) {
  const corvane_olechar* name = item_of(self)->wide_name;
  return name[0] ? name : NULL;
}
static corvane_hresult CORVANE_STDCALL item_set_value_w(corvane_IkivParamsListItemW* self,
                                                        const corvane_variant* value) {
  return store_value(item_of(self), value, 1);
}

static const corvane_IkivParamsListItemWVtbl item_table = {
    item_query,         item_add_ref,       item_release,          item_set_lower_name_text,
    item_set_data_type, item_set_quality,   item_get_lower_name_text, item_get_data_type,
    item_get_quality,   item_set_value,     item_get_value,        item_set_name,
    item_get_name,      item_is_row_delimiter, item_set_name_w,    item_get_name_w,
    item_set_value_w,   item_get_value};

/* The operations of both list interfaces, on the list. */

static corvane_hresult list_query(host_list* list, const corvane_guid* iid, void** object) {
  static const corvane_guid a = CORVANE_IID_IKIVPARAMSLISTA, w = CORVANE_IID_IKIVPARAMSLISTW;
  if (object == NULL) return CORVANE_E_POINTER;
  *object = NULL;
  if (same_guid(iid, &a))
    *object = &list->a;
  else if (same_guid(iid, &w))
    *object = &list->w;
  else
    return CORVANE_E_NOINTERFACE;
  ++list->references;
  return CORVANE_S_OK;
}

static void destroy_list(host_list* list) {
  clear_list(list);
  free(list->items);
  free(list);
}

static uint32_t list_release(host_list* list) {
  int32_t left = --list->references;
  if (left == 0) destroy_list(list);
  return (uint32_t)left;
}

static uint8_t list_find_row(host_list* list, int32_t start, int32_t* index, uint8_t* is_delimiter) {
  int32_t i;
  if (start < 0 || start >= list->count) return 0;
  for (i = start; i < list->count; ++i)
    if (list->items[i]->data_type == CORVANE_ROW_DELIMITER_TYPE) break;
  if (index) *index = i;
  if (is_delimiter) *is_delimiter = i < list->count;
  return 1;
}

static void list_new_row(host_list* list) {
  host_item* item = insert_item(list, list->count, CORVANE_ROW_DELIMITER_NAME, NULL, 0);
  if (item) item->data_type = CORVANE_ROW_DELIMITER_TYPE;
}

static corvane_hresult list_value_by_name(host_list* list, const char* name, const corvane_variant* fallback,
                                          int32_t start, int32_t end, corvane_variant* value) {
  int32_t index;
  if (value == NULL) return CORVANE_E_UNEXPECTED;
  VariantInit(value);
  index = find_item(list, name, start, end);
  if (index >= 0) return VariantCopy(value, &list->items[index]->value) == CORVANE_S_OK ? CORVANE_S_OK
                                                                                        : CORVANE_E_UNEXPECTED;
  if (fallback) return VariantCopy(value, fallback) == CORVANE_S_OK ? CORVANE_S_OK : CORVANE_E_UNEXPECTED;
  return CORVANE_S_OK;
}

static corvane_hresult list_set_item(host_list* list, const char* name, const corvane_variant* value, uint8_t create,
                                     int wide_input, void** out) {
  int32_t index;
  host_item* item = NULL;
  if (out == NULL) return CORVANE_E_UNEXPECTED;
  *out = NULL;
  index = find_item(list, name, 0, -1);
  if (index >= 0) {
    item = list->items[index];
    if (store_value(item, value, wide_input) != CORVANE_S_OK) return CORVANE_E_UNEXPECTED;
  } else if (create) {
    item = insert_item(list, list->count, name, value, wide_input);
  }
  *out = new_item_ref(item);
  return CORVANE_S_OK;
}

/* The A table. */

static corvane_hresult CORVANE_STDCALL a_query(corvane_IkivParamsListA* self, const corvane_guid* iid, void** object) {
  return list_query(list_of_a(self), iid, object);
}
static uint32_t CORVANE_STDCALL a_add_ref(corvane_IkivParamsListA* self) {
  return (uint32_t)++list_of_a(self)->references;
}
static uint32_t CORVANE_STDCALL a_release(corvane_IkivParamsListA* self) { return list_release(list_of_a(self)); }
static int32_t CORVANE_STDCALL a_get_count(corvane_IkivParamsListA* self) { return list_of_a(self)->count; }
static uint32_t CORVANE_STDCALL a_get_signature(corvane_IkivParamsListA* self) {
  (void)self;
  return 0; /* not a list object of the shared layout */
}
static int32_t CORVANE_STDCALL a_get_tag(corvane_IkivParamsListA* self) { return list_of_a(self)->tag; }
static void CORVANE_STDCALL a_set_tag(corvane_IkivParamsListA* self, int32_t tag) { list_of_a(self)->tag = tag; }
static void CORVANE_STDCALL a_clear(corvane_IkivParamsListA* self) { clear_list(list_of_a(self)); }
static void CORVANE_STDCALL a_delete(corvane_IkivParamsListA* self, int32_t index) {
  delete_item(list_of_a(self), index);
}
static uint8_t CORVANE_STDCALL a_find_row(corvane_IkivParamsListA* self, int32_t start, int32_t* index,
                                          uint8_t* is_delimiter) {
  return list_find_row(list_of_a(self), start, index, is_delimiter);
}
static void CORVANE_STDCALL a_new_row(corvane_IkivParamsListA* self) { list_new_row(list_of_a(self)); }
static void CORVANE_STDCALL a_append_row(corvane_IkivParamsListA* self, const void* wrapper) {
  (void)self;
  (void)wrapper; /* only for lists of the shared layout */
}
static corvane_hresult CORVANE_STDCALL a_get_item(corvane_IkivParamsListA* self, int32_t index,
                                                  corvane_IkivParamsListItemA** item) {
  host_list* list = list_of_a(self);
  if (item == NULL) return CORVANE_E_UNEXPECTED;
  *item = index >= 0 && index < list->count ? new_item_ref(list->items[index]) : NULL;
  return CORVANE_S_OK;
}
static corvane_hresult CORVANE_STDCALL a_copy_from(corvane_IkivParamsListA* self, const void* source, uint8_t* copied) {
  (void)self;
  (void)source;
  (void)copied;
  return CORVANE_E_UNEXPECTED;
}
static corvane_hresult CORVANE_STDCALL a_copy_range_from(corvane_IkivParamsListA* self, const void* source,
                                                         int32_t start, int32_t end, uint8_t* copied) {
  (void)start;
  (void)end;
  return a_copy_from(self, source, copied);
}
static corvane_hresult CORVANE_STDCALL a_item_by_name(corvane_IkivParamsListA* self, const char* name, int32_t start,
                                                      int32_t end, corvane_IkivParamsListItemA** item) {
  host_list* list = list_of_a(self);
  int32_t index;
  if (item == NULL) return CORVANE_E_UNEXPECTED;
  index = find_item(list, name, start, end);
  *item = index >= 0 ? new_item_ref(list->items[index]) : NULL;
  return CORVANE_S_OK;
}
static corvane_hresult CORVANE_STDCALL a_item_index_by_name(corvane_IkivParamsListA* self, const char* name,
                                                            int32_t start, int32_t end, int32_t* index) {
  if (index == NULL) return CORVANE_E_UNEXPECTED;
  *index = find_item(list_of_a(self), name, start, end);
  return CORVANE_S_OK;
}
static corvane_hresult CORVANE_STDCALL a_item_value_by_name(corvane_IkivParamsListA* self, const char* name,
                                                            int32_t start, int32_t end, corvane_variant* value) {
  return list_value_by_name(list_of_a(self), name, NULL, start, end, value);
}
static corvane_hresult CORVANE_STDCALL a_item_value_by_name_def(corvane_IkivParamsListA* self, const char* name,
                                                                const corvane_variant* fallback, int32_t start,
                                                                int32_t end, corvane_variant* value) {
  return list_value_by_name(list_of_a(self), name, fallback, start, end, value);
}
static corvane_hresult CORVANE_STDCALL a_insert_item(corvane_IkivParamsListA* self, int32_t index, const char* name,
                                                     const corvane_variant* value,
                                                     corvane_IkivParamsListItemA** item) {
  if (item == NULL) return CORVANE_E_UNEXPECTED;
  *item = new_item_ref(insert_item(list_of_a(self), index, name, value, 0));
  return CORVANE_S_OK;
}
static corvane_hresult CORVANE_STDCALL a_add_item(corvane_IkivParamsListA* self, const char* name,
                                                  const corvane_variant* value, corvane_IkivParamsListItemA** item) {
  return a_insert_item(self, -1, name, value, item);
}
static corvane_hresult CORVANE_STDCALL a_set_item(corvane_IkivParamsListA* self, const char* name,
                                                  const corvane_variant* value, uint8_t create,
                                                  corvane_IkivParamsListItemA** item) {
  return list_set_item(list_of_a(self), name, value, create, 0, (void**)item);
}
static corvane_hresult CORVANE_STDCALL a_add_item_copy(corvane_IkivParamsListA* self,
                                                       corvane_IkivParamsListItemA* source,
                                                       corvane_IkivParamsListItemA** item) {
  corvane_variant value;
  corvane_hresult hr;
  if (item == NULL) return CORVANE_E_UNEXPECTED;
  *item = NULL;
  if (source == NULL) return CORVANE_S_OK;
  if (source->lpVtbl->GetValue(source, &value) != CORVANE_S_OK) return CORVANE_E_UNEXPECTED;
  hr = a_add_item(self, source->lpVtbl->GetName(source), &value, item);
  VariantClear(&value);
  return hr;
}

static const corvane_IkivParamsListAVtbl list_a_table = {
    a_query,         a_add_ref,      a_release,         a_get_count,         a_get_signature,
    a_get_tag,       a_set_tag,      a_clear,           a_delete,            a_find_row,
    a_new_row,       a_append_row,   a_get_item,        a_copy_from,         a_copy_range_from,
    a_item_by_name,  a_item_index_by_name, a_item_value_by_name, a_item_value_by_name_def, a_add_item,
    a_insert_item,   a_set_item,     a_add_item_copy};

/* The W table: names arrive as UTF-16 and become 8-bit texts. */

static corvane_hresult CORVANE_STDCALL w_query(corvane_IkivParamsListW* self, const corvane_guid* iid, void** object) {
  return list_query(list_of_w(self), iid, object);
}
static uint32_t CORVANE_STDCALL w_add_ref(corvane_IkivParamsListW* self) {
  return (uint32_t)++list_of_w(self)->references;
}
static uint32_t CORVANE_STDCALL w_release(corvane_IkivParamsListW* self) { return list_release(list_of_w(self)); }
static int32_t CORVANE_STDCALL w_get_count(corvane_IkivParamsListW* self) { return list_of_w(self)->count; }
static uint32_t CORVANE_STDCALL w_get_signature(corvane_IkivParamsListW* self) {
  (void)self;
  return 0;
}
static int32_t CORVANE_STDCALL w_get_tag(corvane_IkivParamsListW* self) { return list_of_w(self)->tag; }
static void CORVANE_STDCALL w_set_tag(corvane_IkivParamsListW* self, int32_t tag) { list_of_w(self)->tag = tag; }
static void CORVANE_STDCALL w_clear(corvane_IkivParamsListW* self) { clear_list(list_of_w(self)); }
static void CORVANE_STDCALL w_delete(corvane_IkivParamsListW* self, int32_t index) {
  delete_item(list_of_w(self), index);
}
static uint8_t CORVANE_STDCALL w_find_row(corvane_IkivParamsListW* self, int32_t start, int32_t* index,
                                          uint8_t* is_delimiter) {
  return list_find_row(list_of_w(self), start, index, is_delimiter);
}
static void CORVANE_STDCALL w_new_row(corvane_IkivParamsListW* self) { list_new_row(list_of_w(self)); }
static void CORVANE_STDCALL w_append_row(corvane_IkivParamsListW* self, const void* wrapper) {
  (void)self;
  (void)wrapper;
}
static corvane_hresult CORVANE_STDCALL w_get_item(corvane_IkivParamsListW* self, int32_t index,
                                                  corvane_IkivParamsListItemW** item) {
  return a_get_item(&list_of_w(self)->a, index, (corvane_IkivParamsListItemA**)item);
}
static corvane_hresult CORVANE_STDCALL w_copy_from(corvane_IkivParamsListW* self, const void* source, uint8_t* copied) {
  return a_copy_from(&list_of_w(self)->a, source, copied);
}
static corvane_hresult CORVANE_STDCALL w_copy_range_from(corvane_IkivParamsListW* self, const void* source,
                                                         int32_t start, int32_t end, uint8_t* copied) {
  return a_copy_range_from(&list_of_w(self)->a, source, start, end, copied);
}
static corvane_hresult CORVANE_STDCALL w_item_by_name(corvane_IkivParamsListW* self, const corvane_olechar* name,
                                                      int32_t start, int32_t end, corvane_IkivParamsListItemW** item) {
  char* narrow = narrow_text(name);
  corvane_hresult hr = a_item_by_name(&list_of_w(self)->a, narrow, start, end, (corvane_IkivParamsListItemA**)item);
  free(narrow);
  return hr;
}
static corvane_hresult CORVANE_STDCALL w_item_index_by_name(corvane_IkivParamsListW* self,
                                                            const corvane_olechar* name, int32_t start, int32_t end,
                                                            int32_t* index) {
  char* narrow = narrow_text(name);
  corvane_hresult hr = a_item_index_by_name(&list_of_w(self)->a, narrow, start, end, index);
  free(narrow);
  return hr;
}
static corvane_hresult CORVANE_STDCALL w_item_value_by_name(corvane_IkivParamsListW* self,
                                                            const corvane_olechar* name, int32_t start, int32_t end,
                                                            corvane_variant* value) {
  char* narrow = narrow_text(name);
  corvane_hresult hr = list_value_by_name(list_of_w(self), narrow, NULL, start, end, value);
  free(narrow);
  return hr;
}
static corvane_hresult CORVANE_STDCALL w_item_value_by_name_def(corvane_IkivParamsListW* self,
                                                                const corvane_olechar* name,
                                                                const corvane_variant* fallback, int32_t start,
                                                                int32_t end, corvane_variant* value) {
  char* narrow = narrow_text(name);
  corvane_hresult hr = list_value_by_name(list_of_w(self), narrow, fallback, start, end, value);
  free(narrow);
  return hr;
}
static corvane_hresult CORVANE_STDCALL w_insert_item(corvane_IkivParamsListW* self, int32_t index,
                                                     const corvane_olechar* name, const corvane_variant* value,
                                                     corvane_IkivParamsListItemW** item) {
  char* narrow;
  if (item == NULL) return CORVANE_E_UNEXPECTED;
  narrow = narrow_text(name);
  *item = new_item_ref(insert_item(list_of_w(self), index, narrow, value, 1));
  free(narrow);
  return CORVANE_S_OK;
}
static corvane_hresult CORVANE_STDCALL w_add_item(corvane_IkivParamsListW* self, const corvane_olechar* name,
                                                  const corvane_variant* value, corvane_IkivParamsListItemW** item) {
  return w_insert_item(self, -1, name, value, item);
}
static corvane_hresult CORVANE_STDCALL w_set_item(corvane_IkivParamsListW* self, const corvane_olechar* name,
                                                  const corvane_variant* value, uint8_t create,
                                                  corvane_IkivParamsListItemW** item) {
  char* narrow = narrow_text(name);
  corvane_hresult hr = list_set_item(list_of_w(self), narrow, value, create, 1, (void**)item);
  free(narrow);
  return hr;
}
static corvane_hresult CORVANE_STDCALL w_add_item_copy(corvane_IkivParamsListW* self,
                                                       corvane_IkivParamsListItemW* source,
                                                       corvane_IkivParamsListItemW** item) {
  corvane_variant value;
  corvane_hresult hr;
  if (item == NULL) return CORVANE_E_UNEXPECTED;
  *item = NULL;
  if (source == NULL) return CORVANE_S_OK;
  if (source->lpVtbl->GetValueW(source, &value) != CORVANE_S_OK) return CORVANE_E_UNEXPECTED;
  hr = w_add_item(self, source->lpVtbl->GetNameW(source), &value, item);
  VariantClear(&value);
  return hr;
}

static const corvane_IkivParamsListWVtbl list_w_table = {
    w_query,         w_add_ref,      w_release,         w_get_count,         w_get_signature,
    w_get_tag,       w_set_tag,      w_clear,           w_delete,            w_find_row,
    w_new_row,       w_append_row,   w_get_item,        w_copy_from,         w_copy_range_from,
    w_item_by_name,  w_item_index_by_name, w_item_value_by_name, w_item_value_by_name_def, w_add_item,
    w_insert_item,   w_set_item,     w_add_item_copy};

/* A list as the host keeps it: the variables holding its two interface
 * references are what Params and list items point at. The plug-in tells a
 * list object of the shared layout from such a variable by reading a
 * signature word a little behind the address, so the variables sit inside
 * a larger, zeroed record, as they would inside a host's own objects. */
typedef struct host_list_handle {
  corvane_IkivParamsListA* a;
  corvane_IkivParamsListW* w;
  unsigned char beyond[64];
  host_list* list;
} host_list_handle;

static host_list_handle* new_list(void) {
  host_list_handle* handle = calloc(1, sizeof *handle);
  host_list* list = calloc(1, sizeof *list);
  if (handle == NULL || list == NULL) abort();
  list->a.lpVtbl = &list_a_table;
  list->w.lpVtbl = &list_w_table;
  list->references = 2; /* the handle's two references */
  handle->a = &list->a;
  handle->w = &list->w;
  handle->list = list;
  return handle;
}

static void free_list(host_list_handle* handle) {
  handle->a->lpVtbl->Release(handle->a);
  handle->w->lpVtbl->Release(handle->w);
  free(handle);
}

static void add_value(host_list_handle* handle, const char* name, corvane_variant value) {
  corvane_IkivParamsListItemA* item = NULL;
  EXPECT(handle->a->lpVtbl->AddItem(handle->a, name, &value, &item) == CORVANE_S_OK && item != NULL,
         "AddItem %s failed", name);
  if (item) item->lpVtbl->Release(item);
  VariantClear(&value);
}

/* "name=value" of item index, read back through the interface as the plug-in left it. */
static char* item_text(host_list_handle* handle, int32_t index) {
  corvane_IkivParamsListItemW* item = NULL;
  corvane_variant value;
  char *name, *text, *joined;
  if (handle->w->lpVtbl->GetItem(handle->w, index, &item) != CORVANE_S_OK || item == NULL) return copy_text("<none>");
  name = narrow_text(item->lpVtbl->GetNameW(item));
  item->lpVtbl->GetValueW(item, &value);
  text = value_text(&value);
  joined = malloc(strlen(name) + strlen(text) + 2);
  if (joined == NULL) abort();
  sprintf(joined, "%s=%s", name, text);
  VariantClear(&value);
  item->lpVtbl->Release(item);
  free(name);
  free(text);
  return joined;
}

/* ---- What the plug-in sends to the host --------------------------------- */

static char sent_text[1024];
static int32_t sent_data_source = -1;
static int sent_calls = 0;

/* Exported from the executable (linked with -rdynamic): the plug-in looks
 * it up by name in the module given as "HANDLE". */
int32_t CORVANE_STDCALL DataLogger_SendDataEx(uint32_t hostId, int32_t dataSourceId, uint32_t clientId,
                                              int32_t reserved, int32_t kind, void* data, int32_t count) {
  (void)hostId;
  (void)clientId;
  (void)reserved;
  ++sent_calls;
  sent_data_source = dataSourceId;
  if (kind == CORVANE_SEND_STRING && data != NULL && count > 0) {
    size_t used = strlen(sent_text), length = (size_t)count;
    if (used + length + 2 < sizeof sent_text) {
      memcpy(sent_text + used, data, length);
      sent_text[used + length] = '|';
      sent_text[used + length + 1] = '\0';
    }
  }
  return 0;
}

/* ---- The notification window -------------------------------------------- */

static int log_notices = 0;
static uint32_t notice_host_id = 0;

static intptr_t host_window(corvane_window window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  (void)window;
  (void)lParam;
  if (message == CORVANE_MSG_LOG_PENDING) {
    ++log_notices;
    notice_host_id = (uint32_t)wParam;
  }
  return 0;
}

/* Runs what is queued for this thread: the plug-in's script output and the
 * host window's notices. */
static void pump(void) {
  corvane_window_message message;
  while (corvane_PeekMessage(&message, 1)) corvane_DispatchMessage(&message);
}

/* ---- The plug-in --------------------------------------------------------- */

typedef struct plugin {
  void* library;
  corvane_CreatePluginInstance_fn CreatePluginInstance;
  corvane_FreePluginInstance_fn FreePluginInstance;
  corvane_GetLogEx_fn GetLogEx;
  corvane_ExecutePluginCommand_fn ExecutePluginCommand;
  corvane_ProcessData_fn ProcessData;
} plugin;

static void* entry(void* library, const char* name) {
  void* address = dlsym(library, name);
  if (address == NULL) fail("no entry point %s", name);
  return address;
}

/* Object and function pointers convert through memcpy in strict C. */
#define RESOLVE(p, name) \
  do {                   \
    void* address_ = entry((p)->library, #name); \
    memcpy(&(p)->name, &address_, sizeof address_); \
  } while (0)

static corvane_call_record fresh_record(void) {
  corvane_call_record record;
  memset(&record, 0, sizeof record);
  record.RecordSize = CORVANE_CALL_RECORD_SIZE;
  record.HostId = 4711;
  return record;
}

/* Runs COMMAND with params (which gets "COMMAND" added); the list stays the caller's. */
static int32_t command(const plugin* p, corvane_call_record* instance, const char* name, host_list_handle* params) {
  corvane_call_record record = *instance;
  add_value(params, "COMMAND", string_value(name));
  record.Params = (uintptr_t)&params->a;
  return p->ExecutePluginCommand(&record);
}

/* Whether a drained log block holds an error line (lines end with CR LF
 * and start with a kind byte whose low bits are the kind plus one). */
static int has_error_line(const char* log) {
  const char* line = log;
  while (*line) {
    const char* end = strstr(line, "\r\n");
    if (((unsigned char)line[0] & 0x7F) == 1) return 1;
    if (end == NULL) break;
    line = end + 2;
  }
  return 0;
}

/* All pending log lines, zero-terminated. */
static char* drain_log(const plugin* p, const corvane_call_record* instance) {
  corvane_call_record record = *instance;
  char* buffer = calloc(1, 65536);
  int32_t copied;
  if (buffer == NULL) abort();
  record.InputItem.Pointer = (uintptr_t)buffer;
  record.InputItem.Size = 65535;
  copied = p->GetLogEx(&record);
  EXPECT(record.OutputItem.Type == CORVANE_ITEM_STATUS, "GetLogEx answered item type %u", record.OutputItem.Type);
  EXPECT(copied >= 0 && (uintptr_t)copied == record.OutputItem.Pointer, "GetLogEx copied %d of %lu bytes",
         (int)copied, (unsigned long)record.OutputItem.Pointer);
  return buffer;
}

/* One parse packet for client 1; output receives the delivered values. */
static int32_t parse(const plugin* p, const corvane_call_record* instance, const char* bytes,
                     host_list_handle* output, uint32_t* delivered) {
  corvane_call_record record = *instance;
  host_list_handle* params = new_list();
  size_t length = strlen(bytes);
  void* block = malloc(length ? length : 1); /* the plug-in may grow it with realloc */
  int32_t result;
  if (block == NULL) abort();
  memcpy(block, bytes, length);
  add_value(params, "PACKET-PARAM", string_value("p"));
  {
    /* An item that hands out no lower-case name text (the interface allows
     * NULL) must still be found by its name once copied. */
    corvane_IkivParamsListItemA* item = NULL;
    params->a->lpVtbl->ItemByName(params->a, "PACKET-PARAM", 0, -1, &item);
    if (item) {
      item->lpVtbl->SetLowerNameText(item, NULL);
      EXPECT(item->lpVtbl->GetLowerNameText(item) == NULL, "the lower-case name text stays set");
      item->lpVtbl->Release(item);
    }
  }
  record.Params = (uintptr_t)&params->a;
  record.RoleFlags = CORVANE_ROLE_PARSER;
  record.DataSourceId = 7;
  record.ClientId = 1;
  record.InputItem.Type = CORVANE_ITEM_MEMORY_BLOCK;
  record.InputItem.Size = (int32_t)length;
  record.InputItem.Pointer = (uintptr_t)block;
  record.OutputItem.Type = CORVANE_ITEM_LIST_INTERFACE;
  record.OutputItem.Pointer = (uintptr_t)&output->w;
  result = p->ProcessData(&record);
  EXPECT(record.Params == (uintptr_t)&params->a, "ProcessData left another Params");
  EXPECT((record.CallOptions & CORVANE_CALL_OPTION_PARAMS_IS_INTERFACE) == 0, "CallOptions not restored");
  if (record.InputItem.Type == CORVANE_ITEM_MEMORY_BLOCK) free((void*)record.InputItem.Pointer);
  *delivered = record.OutputItem.Count;
  free_list(params);
  return result;
}

static const char script_text[] =
    "import plugin\n"
    "def ParseData(params, source, fifo, results):\n"
    "    while True:\n"
    "        data = fifo.GetBytes()\n"
    "        end = data.find(b'\\n')\n"
    "        if end < 0:\n"
    "            return\n"
    "        fifo.Shift(end + 1)\n"
    "        line = data[:end].decode()\n"
    "        for pair in line.split(';'):\n"
    "            name, value = pair.split('=', 1)\n"
    "            try:\n"
    "                results.AddItem(name, float(value))\n"
    "            except ValueError:\n"
    "                results.AddItem(name, value)\n"
    "        results.AddItem('param', params.ItemValueByName('PACKET-PARAM'))\n"
    "        plugin.SendString(source, 'got ' + line)\n"
    "        print('parsed', line)\n";

static int write_file(const char* path, const char* text) {
  FILE* file = fopen(path, "wb");
  if (file == NULL) return 0;
  fputs(text, file);
  return fclose(file) == 0;
}

static void expect_output(host_list_handle* output, const char* const* wanted, int count, const char* packet) {
  int i;
  int32_t got = output->w->lpVtbl->GetCount(output->w);
  EXPECT(got == count, "packet %s: %d values delivered, %d expected", packet, (int)got, count);
  for (i = 0; i < count && i < got; ++i) {
    char* text = item_text(output, i);
    EXPECT(strcmp(text, wanted[i]) == 0, "packet %s: value %d is \"%s\", expected \"%s\"", packet, i, text, wanted[i]);
    free(text);
  }
}

int main(int argc, char** argv) {
  plugin p;
  corvane_call_record instance = fresh_record();
  corvane_window window;
  host_list_handle *params, *output;
  char script_path[4096], settings_path[4096], settings[8192];
  uint32_t delivered = 0;
  char* log;
  FILE* runtime;

  if (argc != 4) {
    fprintf(stderr, "usage: c_host PRODUCT_LIBRARY PYTHON_RUNTIME SCRATCH_FOLDER\n");
    return 2;
  }
  runtime = fopen(argv[2], "rb");
  if (runtime == NULL) {
    printf("no Python runtime at %s: skipped\n", argv[2]);
    return 77;
  }
  fclose(runtime);
  snprintf(script_path, sizeof script_path, "%s/c_host_script.py", argv[3]);
  snprintf(settings_path, sizeof settings_path, "%s/c_host_script.ini", argv[3]);
  snprintf(settings, sizeof settings, "[Common]\r\nScript file=\"%s\"\r\nPython DLL=%s\r\n", script_path, argv[2]);
  if (!write_file(script_path, script_text) || !write_file(settings_path, settings)) {
    fprintf(stderr, "c_host: cannot write into %s\n", argv[3]);
    return 2;
  }

  /* The OLE exports on their own: lengths, copies and conversions. */
  {
    corvane_variant number = integer_value(-42), copy;
    char* text;
    corvane_bstr bytes = SysAllocStringByteLen("abc", 3);
    EXPECT(SysStringByteLen(bytes) == 3 && SysStringLen(bytes) == 1, "SysAllocStringByteLen keeps odd lengths");
    SysFreeString(bytes);
    VariantInit(&copy);
    EXPECT(VariantCopy(&copy, &number) == CORVANE_S_OK && copy.vt == CORVANE_VT_I8 && copy.u.llVal == -42,
           "VariantCopy");
    text = value_text(&copy);
    EXPECT(strcmp(text, "-42") == 0, "VariantChangeType gave \"%s\"", text);
    free(text);
    EXPECT(VariantChangeType(&copy, &copy, 0, CORVANE_VT_I4) == CORVANE_S_OK && copy.vt == CORVANE_VT_I4 &&
               copy.u.lVal == -42,
           "VariantChangeType in place");
    VariantClear(&copy);
  }

  window = corvane_CreateMessageWindow(host_window, &log_notices);
  EXPECT(window != NULL, "no message window");
  EXPECT(corvane_GetWindowUserData(window) == &log_notices, "window user data");

  memset(&p, 0, sizeof p);
  p.library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (p.library == NULL) {
    fprintf(stderr, "c_host: cannot load %s: %s\n", argv[1], dlerror());
    return 1;
  }
  RESOLVE(&p, CreatePluginInstance);
  RESOLVE(&p, FreePluginInstance);
  RESOLVE(&p, GetLogEx);
  RESOLVE(&p, ExecutePluginCommand);
  RESOLVE(&p, ProcessData);
  if (failures) return 1;

  EXPECT(p.CreatePluginInstance(&instance) == CORVANE_RESULT_OK && instance.InstanceHandle != 0,
         "CreatePluginInstance");

  params = new_list();
  add_value(params, "INI-FILE", string_value(settings_path));
  add_value(params, "HANDLE", integer_value((int64_t)(intptr_t)dlopen(NULL, RTLD_NOW)));
  add_value(params, "MSG-PROC-HANDLE", integer_value((int64_t)(intptr_t)window));
  EXPECT(command(&p, &instance, "LOAD", params) == CORVANE_RESULT_OK, "LOAD failed");
  free_list(params);
  pump();
  log = drain_log(&p, &instance);
  EXPECT(!has_error_line(log), "LOAD logged an error: %s", log);
  free(log);

  params = new_list();
  add_value(params, "PARAM", string_value("Description"));
  EXPECT(command(&p, &instance, "GET-MODULE-PARAMETER", params) == CORVANE_RESULT_OK, "GET-MODULE-PARAMETER");
  {
    corvane_variant answer;
    char* text;
    params->a->lpVtbl->ItemValueByName(params->a, "RESULT", 0, -1, &answer);
    text = value_text(&answer);
    EXPECT(strcmp(text, "Corvane") == 0, "Description is \"%s\"", text);
    free(text);
    VariantClear(&answer);
  }
  free_list(params);
  params = new_list();
  EXPECT(command(&p, &instance, "NO-SUCH-COMMAND", params) == CORVANE_RESULT_NOT_HANDLED,
         "an unknown command is not handled");
  free_list(params);

  /* A line cut across three packets, then two lines in one packet. */
  output = new_list();
  EXPECT(parse(&p, &instance, "tempera", output, &delivered) == CORVANE_RESULT_OK, "packet 1 failed");
  EXPECT(output->w->lpVtbl->GetCount(output->w) == 0, "packet 1 delivered values before the line was complete");
  free_list(output);

  output = new_list();
  EXPECT(parse(&p, &instance, "ture=21.5;", output, &delivered) == CORVANE_RESULT_OK, "packet 2 failed");
  EXPECT(output->w->lpVtbl->GetCount(output->w) == 0, "packet 2 delivered values before the line was complete");
  free_list(output);

  output = new_list();
  EXPECT(parse(&p, &instance, "unit=C\nstat", output, &delivered) == CORVANE_RESULT_OK, "packet 3 failed");
  {
    static const char* const wanted[] = {"temperature=21.5", "unit=C", "param=p"};
    expect_output(output, wanted, 3, "3");
    EXPECT(delivered == 1, "packet 3: OutputItem.Count is %u", (unsigned)delivered);
    if (output->list->count == 3) {
      EXPECT(output->list->items[0]->value.vt == CORVANE_VT_R8, "a float arrives as a double, vt %u",
             (unsigned)output->list->items[0]->value.vt);
      EXPECT(output->list->items[1]->value.vt == CORVANE_VT_BSTR, "a text arrives as an OLE string, vt %u",
             (unsigned)output->list->items[1]->value.vt);
    }
  }
  free_list(output);

  output = new_list();
  EXPECT(parse(&p, &instance, "us=ok\ncode=7\n", output, &delivered) == CORVANE_RESULT_OK, "packet 4 failed");
  {
    static const char* const wanted[] = {"status=ok", "param=p", "code=7", "param=p"};
    expect_output(output, wanted, 4, "4");
  }
  free_list(output);

  EXPECT(strcmp(sent_text, "got temperature=21.5;unit=C|got status=ok|got code=7|") == 0, "sent to the host: %s",
         sent_text);
  EXPECT(sent_calls == 3 && sent_data_source == 7, "SendString: %d calls, data source %d", sent_calls,
         (int)sent_data_source);

  /* The script's output reaches the log on this thread's queue, and the
   * log's notice reaches the host window. */
  pump();
  EXPECT(log_notices > 0 && notice_host_id == instance.HostId, "%d log notices, host id %u", log_notices,
         (unsigned)notice_host_id);
  log = drain_log(&p, &instance);
  EXPECT(strstr(log, "parsed temperature=21.5;unit=C") != NULL && strstr(log, "parsed code=7") != NULL,
         "the log lacks the script's output: %s", log);
  EXPECT(!has_error_line(log), "the packets logged an error: %s", log);
  free(log);
  log = drain_log(&p, &instance);
  EXPECT(log[0] == '\0', "the log was not emptied: %s", log);
  free(log);

  params = new_list();
  EXPECT(command(&p, &instance, "UNLOAD", params) == CORVANE_RESULT_OK, "UNLOAD");
  free_list(params);
  pump();
  free(drain_log(&p, &instance));
  EXPECT(p.FreePluginInstance(&instance) == CORVANE_RESULT_OK, "FreePluginInstance");
  EXPECT(p.FreePluginInstance(&instance) == CORVANE_RESULT_BAD_CALL, "a freed instance is refused");
  EXPECT(corvane_DestroyWindow(window) != 0, "DestroyWindow");
  EXPECT(corvane_PostMessage(window, CORVANE_MSG_LOG_PENDING, 0, 0) == 0, "posting to a destroyed window");

  if (failures) {
    fprintf(stderr, "c_host: %d mismatches\n", failures);
    return 1;
  }
  printf("c_host: all checks passed\n");
  return 0;
}

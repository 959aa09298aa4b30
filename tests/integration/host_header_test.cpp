// The public host header against the library's own definitions: the same
// record layouts, constants and IIDs on every target, and interface tables
// whose slots reach the methods the library's wrappers put there.
#include "corvane_host.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "common/params_list.h"
#include "common/params_list_interfaces.h"
#include "common/params_list_wrap.h"
#include "platform/guid.h"
#include "platform/message_window.h"
#include "platform/ole_string.h"
#include "platform/ole_variant.h"
#include "plugin/call_record.h"

namespace {

using corvane::TPluginCallRecord;
using corvane::TPluginDataItem;

#define SAME_FIELD(c, cxx, field) static_assert(offsetof(c, field) == offsetof(cxx, field), #field)

static_assert(sizeof(corvane_data_item) == sizeof(TPluginDataItem));
SAME_FIELD(corvane_data_item, TPluginDataItem, Count);
SAME_FIELD(corvane_data_item, TPluginDataItem, Size);
SAME_FIELD(corvane_data_item, TPluginDataItem, Type);
SAME_FIELD(corvane_data_item, TPluginDataItem, Pointer);

static_assert(sizeof(corvane_call_record) == sizeof(TPluginCallRecord));
static_assert(CORVANE_CALL_RECORD_SIZE == corvane::CallRecordSize);
SAME_FIELD(corvane_call_record, TPluginCallRecord, RecordSize);
SAME_FIELD(corvane_call_record, TPluginCallRecord, CallOptions);
SAME_FIELD(corvane_call_record, TPluginCallRecord, InstanceHandle);
SAME_FIELD(corvane_call_record, TPluginCallRecord, HostId);
SAME_FIELD(corvane_call_record, TPluginCallRecord, DataSourceId);
SAME_FIELD(corvane_call_record, TPluginCallRecord, ClientId);
SAME_FIELD(corvane_call_record, TPluginCallRecord, RoleFlags);
SAME_FIELD(corvane_call_record, TPluginCallRecord, Params);
SAME_FIELD(corvane_call_record, TPluginCallRecord, InputItem);
SAME_FIELD(corvane_call_record, TPluginCallRecord, OutputItem);
SAME_FIELD(corvane_call_record, TPluginCallRecord, ClientName);
static_assert(sizeof(corvane_call_record::ClientName) == sizeof(TPluginCallRecord::ClientName));

static_assert(sizeof(corvane_module_info) == sizeof(corvane::ModuleInfoRecord));
SAME_FIELD(corvane_module_info, corvane::ModuleInfoRecord, BufferSize);
SAME_FIELD(corvane_module_info, corvane::ModuleInfoRecord, Flags);
SAME_FIELD(corvane_module_info, corvane::ModuleInfoRecord, InterfaceVersion);
SAME_FIELD(corvane_module_info, corvane::ModuleInfoRecord, ModuleVersion);
SAME_FIELD(corvane_module_info, corvane::ModuleInfoRecord, InfoFlag);
SAME_FIELD(corvane_module_info, corvane::ModuleInfoRecord, DescriptionLength);
SAME_FIELD(corvane_module_info, corvane::ModuleInfoRecord, DescriptionAddress);
SAME_FIELD(corvane_module_info, corvane::ModuleInfoRecord, CommandsLength);
SAME_FIELD(corvane_module_info, corvane::ModuleInfoRecord, CommandsAddress);

static_assert(sizeof(corvane_options_dialog_block) == sizeof(corvane::OptionsDialogBlock));
SAME_FIELD(corvane_options_dialog_block, corvane::OptionsDialogBlock, FormOffset);
SAME_FIELD(corvane_options_dialog_block, corvane::OptionsDialogBlock, ExtraLength);
SAME_FIELD(corvane_options_dialog_block, corvane::OptionsDialogBlock, CodeLength);

static_assert(sizeof(corvane_variant) == sizeof(corvane::platform::Variant));
static_assert(offsetof(corvane_variant, vt) == offsetof(corvane::platform::Variant, vt));
static_assert(offsetof(corvane_variant, u) == offsetof(corvane::platform::Variant, llVal));
static_assert(sizeof(corvane_olechar) == sizeof(corvane::platform::OleChar));
static_assert(sizeof(corvane_guid) == sizeof(corvane::platform::Guid));

static_assert(CORVANE_ITEM_PARAMS_LIST == corvane::ditParamsList);
static_assert(CORVANE_ITEM_HOST_BUFFER == corvane::ditHostBuffer);
static_assert(CORVANE_ITEM_MEMORY_BLOCK == corvane::ditMemoryBlock);
static_assert(CORVANE_ITEM_STATUS == corvane::ditStatus);
static_assert(CORVANE_ITEM_LIBRARY_RELEASE == corvane::ditLibraryRelease);
static_assert(CORVANE_ITEM_CLIENT_STREAM == corvane::ditClientStream);
static_assert(CORVANE_ITEM_WRAPPED_PARAMS_LIST == corvane::ditWrappedParamsList);
static_assert(CORVANE_ITEM_LIST_INTERFACE == corvane::ditListInterface);
static_assert(CORVANE_LIBRARY_RELEASE == corvane::LibraryReleaseRequest);
static_assert(CORVANE_CALL_OPTION_PARAMS_IS_INTERFACE == corvane::CallOptionParamsIsInterface);
static_assert(CORVANE_E_UNEXPECTED == corvane::platform::kHrUnexpected);
static_assert(CORVANE_E_NOINTERFACE == corvane::platform::kHrNoInterface);
static_assert(CORVANE_VT_BSTR == corvane::platform::vtBstr);
static_assert(CORVANE_VT_I8 == corvane::platform::vtI8);
static_assert(CORVANE_VT_ANSI_STRING == corvane::platform::vtString);
static_assert(CORVANE_VT_UNICODE_STRING == corvane::platform::vtUString);

// Slot n of a table sits n pointers from its start.
#define SLOT(table, method, n) static_assert(offsetof(table, method) == (n) * sizeof(void*), #method)
SLOT(corvane_IkivParamsListItemAVtbl, IsRowDelimiter, 13);
SLOT(corvane_IkivParamsListItemWVtbl, IsRowDelimiter, 13);
SLOT(corvane_IkivParamsListItemWVtbl, GetValueW, 17);
SLOT(corvane_IkivParamsListAVtbl, AppendRow, 11);
SLOT(corvane_IkivParamsListAVtbl, AddItemCopy, 22);
SLOT(corvane_IkivParamsListWVtbl, AppendRow, 11);
SLOT(corvane_IkivParamsListWVtbl, AddItemCopy, 22);
static_assert(sizeof(corvane_IkivParamsListAVtbl) == 23 * sizeof(void*));
static_assert(sizeof(corvane_IkivParamsListWVtbl) == 23 * sizeof(void*));
static_assert(sizeof(corvane_IkivParamsListItemWVtbl) == 18 * sizeof(void*));

template <class C, class Cxx>
bool SameGuid(const C& c, const Cxx& cxx) {
  return std::memcmp(&c, &cxx, sizeof c) == 0;
}

TEST(HostHeader, InterfaceIdsAreTheLibrarys) {
  const corvane_guid listA = CORVANE_IID_IKIVPARAMSLISTA, listW = CORVANE_IID_IKIVPARAMSLISTW;
  const corvane_guid itemA = CORVANE_IID_IKIVPARAMSLISTITEMA, itemW = CORVANE_IID_IKIVPARAMSLISTITEMW;
  EXPECT_TRUE(SameGuid(listA, corvane::IkivParamsListA::Iid));
  EXPECT_TRUE(SameGuid(listW, corvane::IkivParamsListW::Iid));
  EXPECT_TRUE(SameGuid(itemA, corvane::IkivParamsListItemA::Iid));
  EXPECT_TRUE(SameGuid(itemW, corvane::IkivParamsListItemW::Iid));
}

// A C host calls the library's list wrappers only through the header's
// tables; each call here goes through a different slot.
TEST(HostHeader, TablesReachTheWrappersMethods) {
  corvane::ParamsListPtr list = corvane::TkivParamsList::Create();
  auto interfaceA = corvane::TkivParamsListWrap::NewInterfaceA(list.get(), true);
  auto* a = reinterpret_cast<corvane_IkivParamsListA*>(interfaceA.get());

  corvane_variant value{};
  value.vt = CORVANE_VT_I4;
  value.u.lVal = 42;
  corvane_IkivParamsListItemA* item = nullptr;
  ASSERT_EQ(a->lpVtbl->AddItem(a, "Answer", &value, &item), CORVANE_S_OK);
  ASSERT_NE(item, nullptr);
  EXPECT_STREQ(item->lpVtbl->GetName(item), "Answer");
  EXPECT_STREQ(item->lpVtbl->GetLowerNameText(item), "answer");
  item->lpVtbl->SetDataType(item, 7);
  EXPECT_EQ(item->lpVtbl->GetDataType(item), 7u);
  EXPECT_EQ(item->lpVtbl->IsRowDelimiter(item), 0);
  item->lpVtbl->Release(item);

  a->lpVtbl->NewRow(a);
  EXPECT_EQ(a->lpVtbl->GetCount(a), 2);
  EXPECT_EQ(a->lpVtbl->GetSignature(a), CORVANE_LIST_SIGNATURE);
  int32_t index = -1;
  ASSERT_EQ(a->lpVtbl->ItemIndexByName(a, "ANSWER", 0, -1, &index), CORVANE_S_OK);
  EXPECT_EQ(index, 0);
  corvane_variant read{};
  ASSERT_EQ(a->lpVtbl->ItemValueByName(a, "answer", 0, -1, &read), CORVANE_S_OK);
  EXPECT_EQ(read.vt, CORVANE_VT_I4);
  EXPECT_EQ(read.u.lVal, 42);

  // The W interface by its IID, and a UTF-16 name through it.
  const corvane_guid iidW = CORVANE_IID_IKIVPARAMSLISTW;
  void* object = nullptr;
  ASSERT_EQ(a->lpVtbl->QueryInterface(a, &iidW, &object), CORVANE_S_OK);
  auto* w = static_cast<corvane_IkivParamsListW*>(object);
  corvane_IkivParamsListItemW* itemW = nullptr;
  const corvane_olechar name[] = {'a', 'n', 's', 'w', 'e', 'r', 0};
  ASSERT_EQ(w->lpVtbl->ItemByName(w, name, 0, -1, &itemW), CORVANE_S_OK);
  ASSERT_NE(itemW, nullptr);
  const corvane_olechar* wideName = itemW->lpVtbl->GetNameW(itemW);
  ASSERT_NE(wideName, nullptr);
  EXPECT_EQ(wideName[0], 'A');
  itemW->lpVtbl->Release(itemW);
  corvane_IkivParamsListItemW* delimiter = nullptr;
  ASSERT_EQ(w->lpVtbl->GetItem(w, 1, &delimiter), CORVANE_S_OK);
  ASSERT_NE(delimiter, nullptr);
  EXPECT_NE(delimiter->lpVtbl->IsRowDelimiter(delimiter), 0);
  delimiter->lpVtbl->Release(delimiter);
  w->lpVtbl->Release(w);
}

#if !defined(_WIN32)
// The C exports of libcorvane-os.so share the allocator and the queues of
// the library's own functions.
TEST(HostHeader, OsExportsShareTheLibrarysObjects) {
  const corvane_olechar text[] = {'h', 'o', 's', 't', 0};
  corvane_bstr made = SysAllocString(text);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(corvane::platform::sysStringLen(reinterpret_cast<corvane::platform::Bstr>(made)), 4u);
  corvane::platform::sysFreeString(reinterpret_cast<corvane::platform::Bstr>(made));
  EXPECT_EQ(SysStringLen(nullptr), 0u);

  corvane::platform::OleVariant source = corvane::platform::OleVariant::fromString(u"7");
  corvane_variant converted;
  VariantInit(&converted);
  ASSERT_EQ(VariantChangeType(&converted, reinterpret_cast<const corvane_variant*>(source.get()), 0, CORVANE_VT_I4),
            CORVANE_S_OK);
  EXPECT_EQ(converted.u.lVal, 7);
  corvane_variant copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, reinterpret_cast<const corvane_variant*>(source.get())), CORVANE_S_OK);
  EXPECT_NE(copy.u.bstrVal, source.raw().bstrVal) << "a deep copy";
  EXPECT_EQ(VariantClear(&copy), CORVANE_S_OK);
  EXPECT_EQ(copy.vt, CORVANE_VT_EMPTY);

  struct Seen {
    int count = 0;
    uintptr_t wParam = 0;
  } seen;
  auto procedure = [](corvane_window window, uint32_t message, uintptr_t wParam, intptr_t) -> intptr_t {
    if (message != CORVANE_MSG_LOG_PENDING) return 0;
    auto* s = static_cast<Seen*>(corvane_GetWindowUserData(window));
    ++s->count;
    s->wParam = wParam;
    return 1;
  };
  corvane_window window = corvane_CreateMessageWindow(procedure, &seen);
  ASSERT_NE(window, nullptr);
  // The plug-in posts through the library's own function.
  EXPECT_TRUE(corvane::platform::postMessage(reinterpret_cast<corvane::platform::WindowHandle>(window),
                                             CORVANE_MSG_LOG_PENDING, 12, 0));
  EXPECT_EQ(corvane_PostMessage(window, CORVANE_MSG_LOG_PENDING, 13, 0), 1);
  corvane_window_message message;
  int dispatched = 0;
  while (corvane_PeekMessage(&message, 1)) {
    EXPECT_EQ(message.window, window);
    EXPECT_EQ(corvane_DispatchMessage(&message), 1);
    ++dispatched;
  }
  EXPECT_EQ(dispatched, 2);
  EXPECT_EQ(seen.count, 2);
  EXPECT_EQ(seen.wParam, 13u);
  EXPECT_EQ(corvane_DestroyWindow(window), 1);
  EXPECT_EQ(corvane_PostMessage(window, CORVANE_MSG_LOG_PENDING, 0, 0), 0) << "a destroyed window";
  EXPECT_EQ(corvane_DestroyWindow(window), 0);
  EXPECT_EQ(corvane_CreateMessageWindow(nullptr, nullptr), nullptr);
}
#endif

}  // namespace

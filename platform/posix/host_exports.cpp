// POSIX backend: the C functions a host written in any language calls to
// make and free the OLE strings and variants it exchanges with the plug-in,
// and to run the message window the plug-in posts to. Windows hosts have
// these from the system (oleaut32, user32); here they are exported from
// libcorvane-os.so under the Windows names (strings and variants) or with
// the prefix corvane_ (windows), with C linkage and the entry points'
// calling convention, as include/corvane_host.h declares them. Including
// that header makes the compiler hold each definition to its declaration.
//
// Each function only forwards to the platform function of the same purpose;
// none lets a C++ exception reach its C caller.
#include <cstddef>

#include "include/corvane_host.h"
#include "platform/message_window.h"
#include "platform/ole_string.h"
#include "platform/ole_variant.h"

namespace {

using corvane::platform::Bstr;
using corvane::platform::OleChar;
using corvane::platform::Variant;
using corvane::platform::WindowHandle;
using corvane::platform::WindowMessage;

static_assert(sizeof(corvane_olechar) == sizeof(OleChar));
static_assert(sizeof(corvane_variant) == sizeof(Variant));
static_assert(offsetof(corvane_variant, u) == offsetof(Variant, llVal));

const OleChar* ours(const corvane_olechar* text) { return reinterpret_cast<const OleChar*>(text); }
Bstr ours(corvane_bstr text) { return reinterpret_cast<Bstr>(text); }
corvane_bstr theirs(Bstr text) { return reinterpret_cast<corvane_bstr>(text); }
Variant* ours(corvane_variant* value) { return reinterpret_cast<Variant*>(value); }
const Variant* ours(const corvane_variant* value) { return reinterpret_cast<const Variant*>(value); }
WindowHandle ours(corvane_window window) { return reinterpret_cast<WindowHandle>(window); }
corvane_window theirs(WindowHandle window) { return reinterpret_cast<corvane_window>(window); }

corvane_window_message theirs(const WindowMessage& message) {
  return {theirs(message.window), message.message, message.wParam, message.lParam};
}

// Conversions and queues allocate, so a call may fail for want of memory; a
// C caller gets the function's failure value instead of an exception, which
// could not unwind through its frames.
template <class Result, class Call>
Result guarded(Result failure, Call call) noexcept {
  try {
    return call();
  } catch (...) {
    return failure;
  }
}

constexpr corvane_hresult kOutOfMemory = corvane::platform::kHrOutOfMemory;

}  // namespace

extern "C" {

// ---- OLE strings ----------------------------------------------------------

corvane_bstr CORVANE_STDCALL SysAllocString(const corvane_olechar* text) {
  return theirs(corvane::platform::sysAllocString(ours(text)));
}

corvane_bstr CORVANE_STDCALL SysAllocStringLen(const corvane_olechar* text, uint32_t length) {
  return theirs(corvane::platform::sysAllocStringLen(ours(text), length));
}

corvane_bstr CORVANE_STDCALL SysAllocStringByteLen(const char* bytes, uint32_t byteLength) {
  return theirs(corvane::platform::sysAllocStringByteLen(bytes, byteLength));
}

void CORVANE_STDCALL SysFreeString(corvane_bstr text) { corvane::platform::sysFreeString(ours(text)); }

uint32_t CORVANE_STDCALL SysStringLen(corvane_bstr text) { return corvane::platform::sysStringLen(ours(text)); }

uint32_t CORVANE_STDCALL SysStringByteLen(corvane_bstr text) {
  return corvane::platform::sysStringByteLen(ours(text));
}

// ---- Variants -------------------------------------------------------------

void CORVANE_STDCALL VariantInit(corvane_variant* value) { corvane::platform::variantInit(ours(value)); }

corvane_hresult CORVANE_STDCALL VariantClear(corvane_variant* value) {
  return guarded(kOutOfMemory, [&] { return corvane::platform::variantClear(ours(value)); });
}

corvane_hresult CORVANE_STDCALL VariantCopy(corvane_variant* target, const corvane_variant* source) {
  return guarded(kOutOfMemory, [&] { return corvane::platform::variantCopy(ours(target), ours(source)); });
}

corvane_hresult CORVANE_STDCALL VariantChangeType(corvane_variant* target, const corvane_variant* source,
                                                  uint16_t flags, uint16_t type) {
  return guarded(kOutOfMemory,
                 [&] { return corvane::platform::variantChangeType(ours(target), ours(source), flags, type); });
}

// ---- Message windows ------------------------------------------------------

corvane_window CORVANE_STDCALL corvane_CreateMessageWindow(corvane_window_procedure procedure, void* userData) {
  if (procedure == nullptr) return nullptr;
  // The two procedure types are the same function type: default calling
  // convention, handle, 32-bit message, pointer-sized parameters.
  return guarded<corvane_window>(nullptr, [&] {
    return theirs(corvane::platform::createMessageWindow(
        reinterpret_cast<corvane::platform::WindowProcedure>(procedure), userData));
  });
}

int32_t CORVANE_STDCALL corvane_DestroyWindow(corvane_window window) {
  return guarded<int32_t>(0, [&] { return corvane::platform::destroyWindow(ours(window)) ? 1 : 0; });
}

void* CORVANE_STDCALL corvane_GetWindowUserData(corvane_window window) {
  return guarded<void*>(nullptr, [&] { return corvane::platform::windowUserData(ours(window)); });
}

int32_t CORVANE_STDCALL corvane_GetMessage(corvane_window_message* message) {
  if (message == nullptr) return 0;
  return guarded<int32_t>(0, [&] {
    WindowMessage got{};
    const bool more = corvane::platform::getMessage(got);
    *message = theirs(got);
    return more ? 1 : 0;
  });
}

int32_t CORVANE_STDCALL corvane_PeekMessage(corvane_window_message* message, int32_t remove) {
  if (message == nullptr) return 0;
  return guarded<int32_t>(0, [&] {
    WindowMessage got{};
    if (!corvane::platform::peekMessage(got, remove != 0)) return 0;
    *message = theirs(got);
    return 1;
  });
}

intptr_t CORVANE_STDCALL corvane_DispatchMessage(const corvane_window_message* message) {
  if (message == nullptr) return 0;
  return guarded<intptr_t>(0, [&] {
    const WindowMessage forwarded{ours(message->window), message->message, message->wParam, message->lParam};
    return corvane::platform::dispatchMessage(forwarded);
  });
}

int32_t CORVANE_STDCALL corvane_PostMessage(corvane_window window, uint32_t message, uintptr_t wParam,
                                            intptr_t lParam) {
  return guarded<int32_t>(
      0, [&] { return corvane::platform::postMessage(ours(window), message, wParam, lParam) ? 1 : 0; });
}

}  // extern "C"

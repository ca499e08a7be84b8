// The hidden window on Windows: a real message-only window of a class of its own.
//
// SendMessageA is wrapped in one private message whose lParam points to a block holding the
// message and a slot for an exception, so that a C++ exception from the procedure is caught
// on the owner thread and raised again in the sender, and never unwinds through user32.
#include "runtime/HiddenWindow.h"

#include <windows.h>

#include "runtime/MainThread.h"

namespace rt {
namespace {

constexpr char kClassName[] = "ZanowipeHiddenWindow";
constexpr UINT kCarriedMessage = WM_APP + 0x3E1;

struct Carried {
  Message message;
  std::exception_ptr error;
};

LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Carried messages this thread's hidden windows have handled, so DeliverSentMessages can tell
// that it delivered one: the queue status it reads before peeking misses a message that
// arrives in between, and the peek delivers that one too.
thread_local unsigned long gCarriedHandled = 0;

ATOM RegisterHiddenWindowClass() {
  static const ATOM atom = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = HiddenWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    return RegisterClassA(&wc);
  }();
  return atom;
}

}  // namespace

struct HiddenWindow::Impl {
  Procedure procedure;
  HWND hwnd = nullptr;
};

namespace {

LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* procedure =
      reinterpret_cast<HiddenWindow::Procedure*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  // Messages of creation and destruction arrive while no procedure is attached.
  if (procedure == nullptr) return ::DefWindowProcA(hwnd, msg, wParam, lParam);
  if (msg == kCarriedMessage) {
    ++gCarriedHandled;
    auto* carried = reinterpret_cast<Carried*>(lParam);
    try {
      (*procedure)(carried->message);
    } catch (...) {
      carried->error = std::current_exception();
    }
    return 0;
  }
  // A message from the system or another program has no sender to hand a failure back to.
  Message message{msg, wParam, lParam, 0};
  try {
    (*procedure)(message);
  } catch (...) {
    ReportBackgroundError(std::current_exception());
  }
  return message.Result;
}

}  // namespace

HiddenWindow::HiddenWindow(Procedure procedure) : impl_(std::make_unique<Impl>()) {
  impl_->procedure = std::move(procedure);
  RegisterHiddenWindowClass();
  impl_->hwnd = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  if (impl_->hwnd != nullptr) {
    SetWindowLongPtrA(impl_->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&impl_->procedure));
  }
}

HiddenWindow::~HiddenWindow() {
  if (impl_->hwnd == nullptr) return;
  SetWindowLongPtrA(impl_->hwnd, GWLP_USERDATA, 0);
  DestroyWindow(impl_->hwnd);
}

std::intptr_t HiddenWindow::SendMessageA(std::uint32_t msg, std::uintptr_t wParam,
                                         std::intptr_t lParam) {
  Carried carried{Message{msg, wParam, lParam, 0}, nullptr};
  // A window that is gone (or was never made) leaves the block untouched: the result is 0.
  ::SendMessageA(impl_->hwnd, kCarriedMessage, 0, reinterpret_cast<LPARAM>(&carried));
  if (carried.error) std::rethrow_exception(carried.error);
  return carried.message.Result;
}

std::intptr_t HiddenWindow::DefWindowProcA(std::uint32_t msg, std::uintptr_t wParam,
                                           std::intptr_t lParam) {
  return ::DefWindowProcA(impl_->hwnd, msg, wParam, lParam);
}

bool DeliverSentMessages() {
  const bool pending = (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
  const unsigned long handledBefore = gCarriedHandled;
  // Peeking delivers every message sent to this thread's windows; with this filter and
  // PM_NOREMOVE nothing posted (no timer, no click) is taken or dispatched.
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  return pending || gCarriedHandled != handledBefore;
}

}  // namespace rt

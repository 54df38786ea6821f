#include "app/taskbar_button.hpp"

namespace quarn::win32 {
namespace {

TBPFLAG taskbarState(TaskbarMark mark) {
  switch (mark) {
    case TaskbarMark::normal:
      return TBPF_NORMAL;
    case TaskbarMark::error:
      return TBPF_ERROR;
    case TaskbarMark::none:
      break;
  }
  return TBPF_NOPROGRESS;
}

}  // namespace

// S_FALSE (already entered) must be balanced too; a thread in the other apartment kind is not
// ours to leave.
ComApartment::ComApartment()
    : entered_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

ComApartment::~ComApartment() {
  if (entered_) CoUninitialize();
}

TaskbarButton::TaskbarButton(HWND window) : window_(window) {
  ITaskbarList3* list = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              reinterpret_cast<void**>(&list)))) {
    return;
  }
  list_.reset(list);
  if (FAILED(list_->HrInit())) list_.reset();
}

// The state comes last so that it is the one that stands: setting a value turns a button without
// progress into a normal bar.
void TaskbarButton::show(const ProgressView& view) {
  if (!list_) return;
  if (view.mark != TaskbarMark::none) {
    list_->SetProgressValue(window_, view.completed, view.total);
  }
  list_->SetProgressState(window_, taskbarState(view.mark));
}

}  // namespace quarn::win32

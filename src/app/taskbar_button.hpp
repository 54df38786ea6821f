#pragma once
// The main window's taskbar button as a progress bar, through the shell's taskbar list. Made
// and used on the window's own thread only, and only once the taskbar has announced the button:
// before that (and on systems without the interface) the calls would go nowhere.
#include <windows.h>
// windows.h first: the shell's object header builds on its types.
#include <shobjidl.h>

#include <memory>

#include "app/transfer_progress.hpp"

namespace quarn::win32 {

// Enters the calling thread into a single-threaded apartment for as long as it lives.
class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool entered_;
};

class TaskbarButton {
 public:
  explicit TaskbarButton(HWND window);

  // False where the system offers no taskbar list: then show does nothing.
  bool available() const { return list_ != nullptr; }
  void show(const ProgressView& view);

 private:
  struct Release {
    void operator()(ITaskbarList3* list) const { list->Release(); }
  };

  HWND window_;
  ComApartment apartment_;  // declared first: it outlives the interface it hosts
  std::unique_ptr<ITaskbarList3, Release> list_;
};

}  // namespace quarn::win32

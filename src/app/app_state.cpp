#include "app/app_state.hpp"

namespace quarn::win32 {

HINSTANCE appInstance = nullptr;
HWND mainWindow = nullptr;

}  // namespace quarn::win32

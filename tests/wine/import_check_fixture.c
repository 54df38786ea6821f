/* Imports WINMM.dll, which is not a KnownDLL: the build's import check must reject it. */
#include <timeapi.h>
#include <windows.h>

int main(void) {
  return (int)(timeGetTime() & 1u);
}

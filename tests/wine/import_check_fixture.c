/* Imports WINMM.dll, which is not a KnownDLL: the build's import check must reject it. */
#include <windows.h>
/* windows.h first: the multimedia timer header builds on its types. */
#include <timeapi.h>

int main(void) {
  return (int)(timeGetTime() & 1u);
}

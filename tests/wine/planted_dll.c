/* A DLL that lies beside the adapter check, as a planted one would lie beside the updater. */
__declspec(dllexport) int quarnPlanted(void) {
  return 7;
}

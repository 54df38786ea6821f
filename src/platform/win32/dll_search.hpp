#pragma once
// Where DLLs loaded at run time may come from.

namespace quarn::win32 {

// Makes System32 the only folder searched for DLLs loaded from here on (our own, or those
// Windows loads for us), so a DLL planted beside the program - often in a downloads folder -
// is never picked up. Called first thing at program start.
void restrictDllSearchToSystem32();

}  // namespace quarn::win32

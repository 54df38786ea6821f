# Fails when a Windows program imports a DLL that is not one of Windows' KnownDLLs.
#
#   cmake -DOBJDUMP=<objdump> -DEXE=<program.exe> [-DEXPECT_FOREIGN=<dll>] -P check_imports.cmake
#
# Users unpack the program next to its firmware, often in a downloads folder where anybody's
# files land. The loader looks for an imported DLL in the program's own folder first, unless the
# DLL is a KnownDLL (always taken from System32) or ntdll (loaded before the program itself), so
# a planted copy of any other DLL would run inside the updater. Anything else the program needs
# is loaded at run time with LoadLibraryExW(..., LOAD_LIBRARY_SEARCH_SYSTEM32).
# EXPECT_FOREIGN turns the check into its own test: it then passes only when exactly that DLL is
# rejected.
cmake_minimum_required(VERSION 3.25)
if(NOT OBJDUMP OR NOT EXE)
  message(FATAL_ERROR "usage: cmake -DOBJDUMP=<objdump> -DEXE=<program.exe> -P check_imports.cmake")
endif()

# The KnownDLLs of Windows 7 to 11 that a program of ours may import.
set(known_dlls
  advapi32.dll clbcatq.dll combase.dll comdlg32.dll coml2.dll difxapi.dll gdi32.dll gdiplus.dll
  imagehlp.dll imm32.dll kernel32.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll ntdll.dll
  ole32.dll oleaut32.dll psapi.dll rpcrt4.dll sechost.dll setupapi.dll shcore.dll shell32.dll
  shlwapi.dll user32.dll wldap32.dll ws2_32.dll)

execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "import check: ${OBJDUMP} could not read ${EXE}")
endif()
string(REGEX MATCHALL "DLL Name:[^\r\n]*" import_lines "${dump}")
if(NOT import_lines)
  # Every program imports at least kernel32: no names means the dump was not understood.
  message(FATAL_ERROR "import check: no import table found in ${EXE}")
endif()

set(foreign "")
foreach(line IN LISTS import_lines)
  string(REGEX REPLACE "^DLL Name:" "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" lower)
  if(NOT lower IN_LIST known_dlls)
    list(APPEND foreign "${dll}")
  endif()
endforeach()

get_filename_component(program "${EXE}" NAME)
# A rejected program is removed: the build tool would otherwise take the linked file for a good
# one on its next run, and a packaging step could ship it.
if(DEFINED EXPECT_FOREIGN)
  if(NOT foreign STREQUAL EXPECT_FOREIGN)
    file(REMOVE "${EXE}")
    message(FATAL_ERROR "import check self-test: ${program} should be rejected for exactly "
                        "${EXPECT_FOREIGN}, the check found '${foreign}'")
  endif()
  message(STATUS "import check rejects ${program} for ${foreign}, as it should")
elseif(foreign)
  string(REPLACE ";" ", " foreign "${foreign}")
  file(REMOVE "${EXE}")
  message(FATAL_ERROR "${program} imports ${foreign}, which is not a KnownDLL: a DLL of that "
                      "name beside the program would be loaded instead. Load it at run time with "
                      "LoadLibraryExW(..., LOAD_LIBRARY_SEARCH_SYSTEM32).")
endif()

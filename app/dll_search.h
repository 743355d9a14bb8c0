// Libraries from the system folder only (app/dll_search.cpp).
#pragma once

// Restricts the library search of the whole process to the system folder
// where the system can (else takes the current folder out of it). Called
// first thing at the entry point, before anything can load a library.
void RestrictDllSearch();

// Whether LoadLibraryExA knows LOAD_LIBRARY_SEARCH_SYSTEM32.
bool CanSearchSystemFolderOnly();

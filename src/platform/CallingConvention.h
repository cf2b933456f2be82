// The calling convention of functions that outside Windows libraries export.
//
// 32-bit Windows DLLs such as the parallel-port library export their functions as __stdcall
// (the callee pops its arguments). A caller that declares such a pointer with the default cdecl
// convention corrupts its stack on the first call, so every pointer to such an export, and every
// test double standing in for one, is declared with Q417_STDCALL. Elsewhere (64-bit Windows,
// POSIX) there is only one convention and the macro is empty.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define Q417_STDCALL __stdcall
#else
#define Q417_STDCALL
#endif

// A broken runtime client library for the Wine suite: it loads, but lacks the entry point
// that creates the environment.
#include <windows.h>

extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE DllCanUnloadNow() { return S_OK; }

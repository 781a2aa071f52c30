// The entry point of a stand-in DLL that links libcrypto statically.
//
// Left to itself, libcrypto's first use registers its clean-up with _onexit, which a mingw DLL
// takes from msvcrt: the handler goes into the process's exit list, not the DLL's. When the host
// frees the DLL (the libraries load and free these stand-ins as they need them), the process
// later calls into unmapped memory on its way out and dies there. So libcrypto starts here,
// before anything in the DLL uses it, without that handler, and is cleaned up when the DLL is
// freed. A DLL with no other entry point gets this one through the libcrypto_dll CMake target.
#include <windows.h>
#include <openssl/crypto.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            return OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) ? TRUE : FALSE;
        case DLL_THREAD_DETACH:
            // A static libcrypto has no entry point of its own to free a thread's state.
            OPENSSL_thread_stop();
            break;
        case DLL_PROCESS_DETACH:
            // FreeLibrary (reserved is null): nothing runs in this copy of libcrypto again, so
            // its memory, locks and thread-local slot go back now. At process exit (reserved
            // set) other threads were stopped wherever they were: leave the state to the system.
            if (!reserved) OPENSSL_cleanup();
            break;
        default:
            break;
    }
    return TRUE;
}

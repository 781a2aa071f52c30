# The Windows trees link pugixml and OpenSSL's libcrypto as static libraries that
# scripts/mingw-deps.sh builds from Debian's source packages into a cache outside the build
# trees (no Debian package carries them for mingw-w64).
if(DEFINED ENV{KIT_MINGW_CACHE})
    set(_kit_mingw_cache $ENV{KIT_MINGW_CACHE})
else()
    set(_kit_mingw_cache /var/cache/ukeykit/mingw)
endif()
set(KIT_MINGW_DEPS "${_kit_mingw_cache}/${CMAKE_SYSTEM_PROCESSOR}" CACHE PATH
    "pugixml and libcrypto built for this width by scripts/mingw-deps.sh")
if(NOT EXISTS "${KIT_MINGW_DEPS}/lib/libcrypto.a" OR NOT EXISTS "${KIT_MINGW_DEPS}/lib/libpugixml.a")
    message(FATAL_ERROR "pugixml and libcrypto for mingw are not in ${KIT_MINGW_DEPS}: "
        "run scripts/mingw-deps.sh (make does it before configuring the Windows trees)")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH "${KIT_MINGW_DEPS}")
set(OPENSSL_ROOT_DIR "${KIT_MINGW_DEPS}")
set(OPENSSL_USE_STATIC_LIBS TRUE)
find_package(OpenSSL REQUIRED)
# libcrypto's own needs on Windows beyond the two that FindOpenSSL adds (ws2_32, crypt32):
# random numbers (bcrypt), the system store and registry (advapi32), its window-station check
# (user32), and gdi32 for the screen entropy of older systems.
set_property(TARGET OpenSSL::Crypto APPEND PROPERTY INTERFACE_LINK_LIBRARIES
    bcrypt advapi32 user32 gdi32)

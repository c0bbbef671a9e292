# Windows (cross) build: the dependencies come from tools/setup.sh's prefix.
set(TOLLGROVE_DEPS "" CACHE PATH "Prefix with the target's libtorrent and OpenSSL (printed by tools/setup.sh)")
if(NOT TOLLGROVE_DEPS)
  message(FATAL_ERROR "Set TOLLGROVE_DEPS to the prefix printed by tools/setup.sh")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH ${TOLLGROVE_DEPS})
# The boost headers the engine was built with (a folder holding only
# "boost", never /usr/include as a whole), linked into the prefix.
if(NOT EXISTS ${TOLLGROVE_DEPS}/boost-include/boost/version.hpp)
  message(FATAL_ERROR "${TOLLGROVE_DEPS} has no boost-include; run tools/setup.sh again")
endif()
set(Boost_INCLUDE_DIR ${TOLLGROVE_DEPS}/boost-include CACHE PATH "" FORCE)
set(OPENSSL_ROOT_DIR ${TOLLGROVE_DEPS})
set(OPENSSL_INCLUDE_DIR ${TOLLGROVE_DEPS}/include)
set(LIB_EAY ${TOLLGROVE_DEPS}/lib/libcrypto.a)
set(SSL_EAY ${TOLLGROVE_DEPS}/lib/libssl.a)
set(OPENSSL_USE_STATIC_LIBS ON)
find_package(LibtorrentRasterbar 2.0.8 REQUIRED CONFIG)

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
add_compile_options(-Wall -Wextra)
# Everything is linked statically, so the program needs no DLL beyond the system's.
add_link_options(-static -static-libgcc -static-libstdc++)

# Tests run through Wine with a prefix of their own under the build folder.
# The x86-64 build (for hosts that cannot execute 32-bit code) runs under
# Wine's 64-bit loader: its emulators take --win64, and tests that call
# Wine themselves find the loader's folder first on PATH.
set(TOLLGROVE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TOLLGROVE_WINE_ARGS --win64)
  set(TOLLGROVE_WINE_PATH ${CMAKE_SOURCE_DIR}/tools/wine64)
else()
  set(TOLLGROVE_WINE_ARGS)
  set(TOLLGROVE_WINE_PATH)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/tools/wine-run.sh ${TOLLGROVE_WINE_ARGS})

# The program ships without its debug information (a fifth of the size, and
# the self-update downloads the whole file); the information stays beside
# it in NAME.exe.debug, which debuggers find through the debug link.
function(tg_split_debug_info target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE_NAME:${target}>
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    VERBATIM)
endfunction()

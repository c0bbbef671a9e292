# Native build: the portable core against Debian's libtorrent-rasterbar-dev.
option(TOLLGROVE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
find_package(LibtorrentRasterbar 2.0.8 REQUIRED CONFIG)
add_compile_options(-Wall -Wextra)
if(TOLLGROVE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# libtheora's decoder library as the set-up cross-built it into the dependency prefix, with the legacy theora_
# calls, as the imported target QvTheora. It sits on libogg through the same cache entry that FindQvVorbis fills,
# so ogg is one library found once, whichever module runs first.
find_path(QV_THEORA_INCLUDE_DIR theora/theora.h REQUIRED)
find_library(QV_THEORA_LIBRARY theoradec REQUIRED)
find_library(QV_VORBIS_ogg ogg REQUIRED)
add_library(QvTheora INTERFACE IMPORTED)
target_link_libraries(QvTheora INTERFACE ${QV_THEORA_LIBRARY} ${QV_VORBIS_ogg})
target_include_directories(QvTheora INTERFACE ${QV_THEORA_INCLUDE_DIR})

# Ogg Vorbis as the set-up cross-built it into the dependency prefix: vorbisfile over vorbis over ogg (in link
# order), with vorbisenc for the tests that make their own Ogg files, as the imported target QvVorbis.
find_path(QV_VORBIS_INCLUDE_DIR vorbis/vorbisfile.h REQUIRED)
add_library(QvVorbis INTERFACE IMPORTED)
foreach(library vorbisfile vorbisenc vorbis ogg)
    find_library(QV_VORBIS_${library} ${library} REQUIRED)
    target_link_libraries(QvVorbis INTERFACE ${QV_VORBIS_${library}})
endforeach()
target_include_directories(QvVorbis INTERFACE ${QV_VORBIS_INCLUDE_DIR})

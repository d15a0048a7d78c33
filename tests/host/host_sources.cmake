# The engine sources that build for the Linux host without the platform: pixel formats, base and software images,
# blend tables, pixel transfer, the number conversions and the software renderer, with the host stand-ins for the
# core (host_core.cpp). They form static libraries, so a program that brings its own quad drawer links that one.
# Expects `root` to name the repository.
set(qv_host_pixel_sources
    ${root}/image/pixel_format.cpp
    ${root}/image/base_image.cpp
    ${root}/image/dxt.cpp
    ${root}/image/blend_tables.cpp
    ${root}/image/memimg.cpp
    ${root}/image/memimg_default.cpp
    ${root}/image/pixel_kernel.cpp
    ${root}/image/pixel_kernel_loops.cpp
    ${root}/image/pixel_transfer.cpp
    ${root}/core/number_conversion.cpp
    ${root}/tests/host/host_core.cpp)
file(GLOB qv_host_softrender_sources CONFIGURE_DEPENDS ${root}/softrender/*.cpp)
list(APPEND qv_host_pixel_sources ${qv_host_softrender_sources})

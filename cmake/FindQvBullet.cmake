# Bullet physics as the set-up cross-built it into the dependency prefix: the three static libraries the engine's
# model physics uses, as the imported target QvBullet (headers under include/bullet).
find_path(QV_BULLET_INCLUDE_DIR btBulletDynamicsCommon.h PATH_SUFFIXES bullet REQUIRED)
add_library(QvBullet INTERFACE IMPORTED)
foreach(library BulletDynamics BulletCollision LinearMath)
    find_library(QV_BULLET_${library} ${library} REQUIRED)
    target_link_libraries(QvBullet INTERFACE ${QV_BULLET_${library}})
endforeach()
target_include_directories(QvBullet INTERFACE ${QV_BULLET_INCLUDE_DIR})

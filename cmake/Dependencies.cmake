# cJSON, minizip (unzip), zlib and GoogleTest. cJSON and GoogleTest are found
# by the CMake packages they install; minizip installs none, so qorv_minizip
# stands for it, and zlib is qorv_zlib.
# Natively they are Debian's -dev packages; for Windows, zlib is Debian's
# libz-mingw-w64-dev and the others are built from Debian's source packages
# by tools/build-mingw-deps.sh into build/deps/<architecture>.
if(WIN32)
    set(QORV_DEPS_PREFIX "${CMAKE_SOURCE_DIR}/build/deps/${CMAKE_SYSTEM_PROCESSOR}" CACHE PATH
        "Where tools/build-mingw-deps.sh installed the Windows libraries")
    foreach(file lib/cmake/cJSON/cJSONConfig.cmake lib/cmake/GTest/GTestConfig.cmake
                 lib/libminizip.a)
        if(NOT EXISTS "${QORV_DEPS_PREFIX}/${file}")
            message(FATAL_ERROR "${QORV_DEPS_PREFIX}/${file} is missing: run tools/setup.sh\n(or tools/build-mingw-deps.sh ${CMAKE_SYSTEM_PROCESSOR})")
        endif()
    endforeach()
    # The toolchain looks for packages only under its roots; the deps prefix
    # is one more.
    list(APPEND CMAKE_FIND_ROOT_PATH "${QORV_DEPS_PREFIX}")
    find_library(QORV_ZLIB NAMES libz.a z REQUIRED)
    add_library(qorv_zlib INTERFACE)
    target_link_libraries(qorv_zlib INTERFACE "${QORV_ZLIB}")
    add_library(qorv_minizip INTERFACE)
    target_include_directories(qorv_minizip SYSTEM INTERFACE "${QORV_DEPS_PREFIX}/include")
    target_link_libraries(qorv_minizip INTERFACE "${QORV_DEPS_PREFIX}/lib/libminizip.a" qorv_zlib)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(QORV_MINIZIP_PC REQUIRED IMPORTED_TARGET minizip)
    find_package(ZLIB REQUIRED)
    add_library(qorv_zlib INTERFACE)
    target_link_libraries(qorv_zlib INTERFACE ZLIB::ZLIB)
    add_library(qorv_minizip INTERFACE)
    target_link_libraries(qorv_minizip INTERFACE PkgConfig::QORV_MINIZIP_PC qorv_zlib)
endif()
find_package(cJSON CONFIG REQUIRED)
find_package(GTest CONFIG REQUIRED)

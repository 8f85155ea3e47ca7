# cJSON, minizip (unzip), zlib and GoogleTest; natively also libcurl (the
# rehearsal's transport). cJSON and GoogleTest are found
# by the CMake packages they install, zlib by CMake's FindZLIB; minizip
# installs none, so qorv_minizip stands for it.
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
    # The product links everything in: libz.a, not the DLL's import library.
    set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)
find_package(cJSON CONFIG REQUIRED)
find_package(GTest CONFIG REQUIRED)
if(NOT WIN32)
    find_package(CURL REQUIRED)
endif()

add_library(qorv_minizip INTERFACE)
if(WIN32)
    target_include_directories(qorv_minizip SYSTEM INTERFACE "${QORV_DEPS_PREFIX}/include")
    target_link_libraries(qorv_minizip INTERFACE "${QORV_DEPS_PREFIX}/lib/libminizip.a")
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(QORV_MINIZIP_PC REQUIRED IMPORTED_TARGET minizip)
    target_link_libraries(qorv_minizip INTERFACE PkgConfig::QORV_MINIZIP_PC)
endif()
target_link_libraries(qorv_minizip INTERFACE ZLIB::ZLIB)

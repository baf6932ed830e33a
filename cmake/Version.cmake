# SPDX-License-Identifier: GPL-3.0-or-later
# The program's version, from project(VERSION) in the top-level CMakeLists.txt
# and nowhere else: a generated header carries it to --version, the Linux
# version note and the Windows resource, and the manifest is configured from it.
#
# lumbra_version: an interface target whose include path holds lumbra_version.h.
set(LUMBRA_VERSION_DIR ${PROJECT_BINARY_DIR}/generated)
# What users see (lumbra-cli 1.0.0, the package version); the fourth number
# stays inside the file version that the update check compares.
set(LUMBRA_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
set(LUMBRA_FILE_VERSION_TEXT
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${PROJECT_VERSION_TWEAK}")
# The day this version was released: the man pages, the AppStream release
# entry and the package changelog carry it. Change it with the version.
set(LUMBRA_RELEASE_DATE "2026-12-09")
if(PROJECT_VERSION_TWEAK STREQUAL "")
    message(FATAL_ERROR "project(VERSION) needs four numbers (major.minor.patch.tweak): ${PROJECT_VERSION}")
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/lumbra_version.h.in ${LUMBRA_VERSION_DIR}/lumbra_version.h @ONLY)
add_library(lumbra_version INTERFACE)
target_include_directories(lumbra_version INTERFACE ${LUMBRA_VERSION_DIR})

# lumbra_add_windows_resources(TARGET): the icon, the manifest and the version
# resource of a Windows executable. The manifest is configured beside the
# header, where the resource compiler finds both.
function(lumbra_add_windows_resources target)
    configure_file(${PROJECT_SOURCE_DIR}/app/win32/resources/lumbra.manifest.in ${LUMBRA_VERSION_DIR}/lumbra.manifest @ONLY)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/app/win32/resources/lumbra.rc)
    target_link_libraries(${target} PRIVATE lumbra_version)
    # lumbra.ico is named relative to the resource file's own folder.
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/app/win32/resources)
endfunction()

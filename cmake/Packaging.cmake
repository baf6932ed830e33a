# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, made by CPack's DEB generator (scripts/package):
# lumbra_<version>_amd64.deb with the files of `cmake --install`, the
# package's changelog and copyright, and dependencies from dpkg-shlibdeps.
set(LUMBRA_PACKAGE_MAINTAINER "Osmik Data <packages@osmikdata.com>")

# The release date as a Debian changelog writes it ("Wed, 09 Dec 2026
# 00:00:00 +0000"); the weekday by Zeller's congruence, as CMake has no
# calendar of its own.
string(REGEX MATCH "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$" _date "${LUMBRA_RELEASE_DATE}")
if(NOT _date)
    message(FATAL_ERROR "LUMBRA_RELEASE_DATE must be YYYY-MM-DD: ${LUMBRA_RELEASE_DATE}")
endif()
math(EXPR _year "${CMAKE_MATCH_1}")
math(EXPR _month "1${CMAKE_MATCH_2} - 100")
math(EXPR _day "1${CMAKE_MATCH_3} - 100")
set(_y ${_year})
set(_m ${_month})
if(_m LESS 3)
    math(EXPR _m "${_m} + 12")
    math(EXPR _y "${_y} - 1")
endif()
math(EXPR _weekday "(${_day} + (13 * (${_m} + 1)) / 5 + ${_y} % 100 + (${_y} % 100) / 4 + (${_y} / 100) / 4 + 5 * (${_y} / 100)) % 7")
set(_weekdays "Sat;Sun;Mon;Tue;Wed;Thu;Fri")
list(GET _weekdays ${_weekday} _weekday_name)
math(EXPR _month_index "${_month} - 1")
set(_months "Jan;Feb;Mar;Apr;May;Jun;Jul;Aug;Sep;Oct;Nov;Dec")
list(GET _months ${_month_index} _month_name)
set(LUMBRA_RELEASE_DATE_RFC2822 "${_weekday_name}, ${CMAKE_MATCH_3} ${_month_name} ${_year} 00:00:00 +0000")

# The changelog and copyright file Debian expects in the documentation folder.
find_program(GZIP_PROGRAM gzip REQUIRED)
configure_file(${PROJECT_SOURCE_DIR}/share/debian/changelog.in ${PROJECT_BINARY_DIR}/share/debian/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/share/debian/changelog.gz
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${PROJECT_BINARY_DIR}/share/debian/changelog >
            ${PROJECT_BINARY_DIR}/share/debian/changelog.gz
    DEPENDS ${PROJECT_BINARY_DIR}/share/debian/changelog)
add_custom_target(lumbra_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/share/debian/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/share/debian/changelog.gz ${PROJECT_SOURCE_DIR}/share/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumbra)
set(CPACK_PACKAGE_VENDOR "Osmik Data")
set(CPACK_PACKAGE_VERSION ${LUMBRA_VERSION_TEXT})
set(CPACK_PACKAGE_CONTACT ${LUMBRA_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find deleted files on NTFS volumes and rebuild them")
set(CPACK_PACKAGE_DESCRIPTION
    "Lumbra reads the Master File Table of an NTFS volume straight from the raw
device or from an image file, lists every deleted file whose record still
describes it, and rebuilds the chosen files, byte for byte, into a folder.
The volume is only ever read.

The package holds the Qt window (lumbra), with a desktop entry whose
\"Run as administrator\" action starts it through pkexec, and the
command-line tool lumbra-cli for scripts.")
set(CPACK_STRIP_FILES ON)
# Directories as Debian has them, whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${LUMBRA_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Tahoma for the window (found through fontconfig) and a font for its
# Chinese captions; pkexec for the desktop entry's administrator action.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wine, fonts-wqy-microhei, pkexec")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

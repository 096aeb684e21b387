# The Debian package: `cpack -G DEB` in a build configured with -DCMAKE_INSTALL_PREFIX=/usr
# (tools/package.sh configures, builds and packages). Included before the subdirectories, so
# their install rules create folders with the permissions set here.
include(GNUInstallDirs)

# A umask of 002 or 077 at install time must not end up in the package's folders.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(YUMING_PACKAGE_MAINTAINER "yuming maintainers <maintainers@users.noreply.c-seed-03c4aef7.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(yuming_package_data ${CMAKE_CURRENT_LIST_DIR})
set(yuming_package_out ${CMAKE_BINARY_DIR}/package)

# Debian wants the changelog's newest entry to be the version being packaged; a version bump
# without a changelog entry is caught here rather than by a confused user of the package.
file(STRINGS ${yuming_package_data}/changelog yuming_changelog_head LIMIT_COUNT 1)
if(NOT yuming_changelog_head MATCHES "^yuming \\(${PROJECT_VERSION}\\) ")
  message(WARNING "resources/package/changelog does not start with an entry for ${PROJECT_VERSION}")
endif()

# gzip -n keeps the name and time stamp out, so the package is the same whenever it is built.
set(yuming_gzipped)
foreach(source yuming.1 yuming-cli.1 yuming-service.1 changelog)
  set(output ${yuming_package_out}/${source}.gz)
  add_custom_command(
    OUTPUT ${output}
    COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh ${yuming_package_data}/${source} ${output}
    DEPENDS ${yuming_package_data}/${source}
    VERBATIM)
  list(APPEND yuming_gzipped ${output})
endforeach()
add_custom_target(yuming_package_data ALL DEPENDS ${yuming_gzipped})

install(FILES ${yuming_package_out}/yuming.1.gz ${yuming_package_out}/yuming-cli.1.gz
              ${yuming_package_out}/yuming-service.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${yuming_package_data}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The user unit that keeps the service (and its watchlist) running: systemd looks for user units
# in lib/systemd/user under the prefix, whatever the architecture's libdir.
configure_file(${yuming_package_data}/yuming-service.service.in ${yuming_package_out}/yuming-service.service @ONLY)
install(FILES ${yuming_package_out}/yuming-service.service DESTINATION lib/systemd/user)
# The package is native (its version has no Debian revision), and a native package's changelog is
# changelog.gz, not changelog.Debian.gz.
install(FILES ${yuming_package_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME yuming)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The banner module is found relative to the program, so the package must use the prefix the
# libdir was computed for; Debian packages live under /usr.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "${YUMING_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "search expiring domain names and their deletion times")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[
A desktop tool for people who watch for expiring domain names: one window,
in Simplified Chinese, that searches a domain search service for names about
to be deleted, pages through the results, and looks up one domain's expiry
and estimated deletion time.

The package also holds yuming-cli, the same searches and lookups without a
window, for scripts, and yuming-service, a local search service (HTTP on
loopback, SQLite) that seeds a realistic database on its first start, so the
tool works without the internet.]=])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not libraries, so dpkg-shlibdeps cannot find them: the face the window's Chinese texts are
# drawn in, and Qt's Chinese texts for its own dialogs and buttons.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-arphic-uming, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)

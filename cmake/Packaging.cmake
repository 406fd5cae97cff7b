# Installation rules and the Debian package.
#
# Layout under the prefix (GNUInstallDirs): the programs in bin/, the manual
# pages in share/man/man1/, the user documents and the sample database
# description in share/doc/scrutor/. `cmake --install <dir>` installs into
# CMAKE_INSTALL_PREFIX (/usr/local by default); `cpack -G DEB` builds a
# package that installs the same files under /usr.

include(GNUInstallDirs)
# share/doc/scrutor whatever the project's display name: GNUInstallDirs would
# derive share/doc/Scrutor from it.
set(SCRUTOR_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/scrutor)

install(TARGETS scrutor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET scrutor-db)
  install(TARGETS scrutor-db RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Manual pages. Installed compressed, as the system's own pages are, when
# gzip is at hand; -n keeps the name and time stamp out, so that two builds
# of the same page give the same bytes.
set(SCRUTOR_MAN_PAGES scrutor.1)
if(TARGET scrutor-db)
  list(APPEND SCRUTOR_MAN_PAGES scrutor-db.1)
endif()
find_program(SCRUTOR_GZIP gzip)
set(SCRUTOR_MAN_FILES)
foreach(page IN LISTS SCRUTOR_MAN_PAGES)
  set(source ${CMAKE_SOURCE_DIR}/docs/man/${page})
  if(SCRUTOR_GZIP)
    set(output ${CMAKE_BINARY_DIR}/man/${page}.gz)
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${SCRUTOR_GZIP} -9 -n -c ${source} > ${output}
      DEPENDS ${source}
      COMMENT "Compressing manual page ${page}"
      VERBATIM)
    list(APPEND SCRUTOR_MAN_FILES ${output})
  else()
    list(APPEND SCRUTOR_MAN_FILES ${source})
  endif()
endforeach()
add_custom_target(scrutor_man ALL DEPENDS ${SCRUTOR_MAN_FILES})
install(FILES ${SCRUTOR_MAN_FILES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# User documents: whatever of them the tree holds, so that a document that
# has not been written yet does not break the build.
set(SCRUTOR_DOC_FILES)
foreach(doc README.md docs/messages.md docs/database-description.md docs/engine.md
            docs/file-format.md docs/reliability.md)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${doc})
    list(APPEND SCRUTOR_DOC_FILES ${CMAKE_SOURCE_DIR}/${doc})
  endif()
endforeach()
install(FILES ${SCRUTOR_DOC_FILES} DESTINATION ${SCRUTOR_DOCDIR})
foreach(sample database.json README.md)
  if(EXISTS ${CMAKE_SOURCE_DIR}/examples/sample/${sample})
    install(FILES ${CMAKE_SOURCE_DIR}/examples/sample/${sample}
            DESTINATION ${SCRUTOR_DOCDIR}/examples/sample)
  endif()
endforeach()

# Checks of the user documents: the catalogue lists every line the checker
# prints, and the manual pages format without a warning.
if(SCRUTOR_TESTS)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_Interpreter_FOUND)
    add_test(NAME docs.messages_catalogue
             COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/packaging/check_messages.py
                     ${CMAKE_SOURCE_DIR})
  endif()
  find_program(SCRUTOR_GROFF groff)
  if(SCRUTOR_GROFF)
    foreach(page IN ITEMS scrutor.1 scrutor-db.1)
      add_test(NAME docs.man_${page}
               COMMAND sh -c "out=$(\"$0\" -man -ww -z \"$1\" 2>&1) && [ -z \"$out\" ] || { echo \"$out\"; exit 1; }"
                       ${SCRUTOR_GROFF} ${CMAKE_SOURCE_DIR}/docs/man/${page})
    endforeach()
  endif()
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME scrutor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Scrutor developers")
set(CPACK_PACKAGE_CONTACT "Scrutor developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "consistency checker for keyed-file databases with data dictionaries")
# CPack puts the summary on the first line and indents these lines itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Scrutor reads the key definitions stored in each data file of a keyed-file
database and compares them with the data-dictionary files that describe the
database (FILE.DDF, FIELD.DDF, INDEX.DDF and ATTRIB.DDF). It reports every
key segment whose dictionary definition is missing or differs from the data
file, and can repair the collating-sequence records of ATTRIB.DDF.

The package also holds scrutor-db, which builds such a database from a JSON
description and writes any database back out as one.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Scrutor developers")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Library dependencies with the versions this build needs, when the Debian
# tool that finds them is installed; otherwise the libraries by name.
find_program(SCRUTOR_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(SCRUTOR_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)
